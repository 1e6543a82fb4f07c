// What a compositor's PipeWire stream says of itself: the format it settled on (any POD that
// fits in the input) and a buffer described by the input: its metadata, header flags, damage
// regions and crop, and its data plane's size, chunk offset, size, stride and flags.
//
//   bytes 0-3      the format POD's size N; the next N bytes are the POD
//   then 32 bytes  metas (bits 0-2: header, damage, crop), header flags, damage bytes,
//                  maxsize, offset, size, stride, flags
//   then 16 bytes  the crop: x, y, width, height
//   the rest       the damage regions, then the plane's first bytes
#include <spa/buffer/meta.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kvcap/pipewire_buffer_linux.h"

namespace {

// Planes up to 1 MiB: the checks are the same for any size, and a fuzzer that fills 16 MiB
// for every input tries a tenth as many.
constexpr uint32_t kMostPlane = 1u << 20;
constexpr int kMaxSize = 16384;

template <typename T>
T Take(const uint8_t** at) {
    T value;
    std::memcpy(&value, *at, sizeof value);
    *at += sizeof value;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* at = data;
    const uint8_t* end = data + size;
    if (size < 4) {
        return 0;
    }
    uint32_t podBytes = Take<uint32_t>(&at);
    if (podBytes < sizeof(spa_pod) || podBytes > static_cast<size_t>(end - at)) {
        return 0;
    }
    // PipeWire's protocol hands over a POD only when its stated size fits what arrived, and
    // aligned as its own buffers are.
    std::vector<uint64_t> pod((podBytes + 7) / 8);
    std::memcpy(pod.data(), at, podBytes);
    at += podBytes;
    const auto* format = reinterpret_cast<const spa_pod*>(pod.data());
    if (SPA_POD_SIZE(format) > podBytes) {
        return 0;
    }
    StreamFormat stream;
    if (!ReadStreamFormat(format, kMaxSize, &stream) || end - at < 48) {
        return 0;
    }

    const uint32_t present = Take<uint32_t>(&at);
    spa_meta_header header{};
    header.flags = Take<uint32_t>(&at);
    const uint32_t damageBytes = Take<uint32_t>(&at) % 512;
    spa_data plane{};
    spa_chunk chunk{};
    plane.maxsize = Take<uint32_t>(&at) % kMostPlane;
    chunk.offset = Take<uint32_t>(&at);
    chunk.size = Take<uint32_t>(&at);
    chunk.stride = Take<int32_t>(&at);
    chunk.flags = Take<int32_t>(&at);
    spa_meta_region crop{};
    crop.region.position.x = Take<int32_t>(&at);
    crop.region.position.y = Take<int32_t>(&at);
    crop.region.size.width = Take<uint32_t>(&at);
    crop.region.size.height = Take<uint32_t>(&at);
    std::vector<uint64_t> damage((damageBytes + 7) / 8 + 1);
    const size_t damageGiven = std::min<size_t>(damageBytes, end - at);
    std::copy_n(at, damageGiven, reinterpret_cast<uint8_t*>(damage.data()));
    at += damageGiven;
    std::vector<uint8_t> memory(plane.maxsize);
    std::copy_n(at, std::min<size_t>(memory.size(), end - at), memory.begin());
    plane.data = memory.empty() ? nullptr : memory.data();
    plane.chunk = &chunk;

    const spa_meta all[3] = {{SPA_META_Header, sizeof header, &header},
                             {SPA_META_VideoDamage, damageBytes, damage.data()},
                             {SPA_META_VideoCrop, sizeof crop, &crop}};
    std::vector<spa_meta> metas;
    for (int i = 0; i < 3; ++i) {
        if ((present >> i) & 1) {
            metas.push_back(all[i]);
        }
    }
    spa_buffer buffer{};
    buffer.n_metas = static_cast<uint32_t>(metas.size());
    buffer.metas = metas.data();
    buffer.n_datas = 1;
    buffer.datas = &plane;

    if (BufferHoldsPicture(&buffer)) {
        BufferShowsChange(&buffer);
        std::vector<uint8_t> pixels;
        PixelRect shown = PictureCrop(&buffer, stream.width, stream.height);
        CopyPicture(plane, stream.width, stream.height, shown, &pixels);
    }
    return 0;
}
