#pragma once

#include <cstddef>
#include <cstdint>

// Our capture library. Every call returns 0 for success. Frames are announced through the
// callback on a thread of the library's own, never on the thread that opens, closes or
// releases; the callback may block for a while. Pixels are 3 bytes each in the order of a
// Windows 24-bit DIB (blue, green, red), rows top first, packed at width x 3 bytes.

using KVCapHandle = uint32_t;

inline constexpr int CF_24BPP_888 = 6;

// Frame descriptor handed to the callback and taken back by KVCapAPI_CopyRawData. The
// 32-bit layout is 46 bytes with the pixel address in bytes 0-3; the address is a whole
// pointer here, so the fields after it sit 4 bytes later in a 64-bit build.
#pragma pack(push, 1)
struct CaptureFrameInfo {
    uint8_t* pixels;   // the frame's pixels; in the pipeline's copy, its frame buffer
    uint32_t reserved1;
    uint32_t byteCount;  // bytes of pixels
    uint8_t reserved2[12];
    int32_t status;  // negative: the call carries no usable frame
    uint8_t reserved3[18];
};
#pragma pack(pop)
static_assert(sizeof(CaptureFrameInfo) == 42 + sizeof(uint8_t*));

using KVCapFrameCallback = int (*)(CaptureFrameInfo* info);

int KVCapAPI_Initialize(int a, int b, int c);
int KVCapAPI_Create(KVCapHandle* handle);
int KVCapAPI_GetScreenSize(KVCapHandle handle, int* width, int* height, uint16_t* extra);
int KVCapAPI_SetCursorMode(KVCapHandle handle, int mode);
int KVCapAPI_SetMaxFPS(KVCapHandle handle, int fps);
int KVCapAPI_SetFullscreen(KVCapHandle handle, int fullscreen);
int KVCapAPI_SetColorFormat(KVCapHandle handle, int format);
int KVCapAPI_Open(KVCapHandle handle, KVCapFrameCallback callback, int flags, int width,
                  int height);
int KVCapAPI_Start(KVCapHandle handle);
int KVCapAPI_CopyRawData(KVCapHandle handle, void* destination, const CaptureFrameInfo* info);
int KVCapAPI_Close(KVCapHandle handle);
int KVCapAPI_Release(KVCapHandle handle);
int KVCapAPI_Uninitialize();
