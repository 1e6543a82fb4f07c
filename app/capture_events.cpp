#include "app/capture_events.h"

#include "app/capture_session.h"
#include "app/display_mode.h"
#include "app/frame_pipeline.h"
#include "platform/debug_print.h"

void ApplySavedZoom() {
    const int32_t zoom = ZoomMode.load();
    if (zoom != ZOOM_ORIGINAL) {
        SetCaptureZoom(zoom);
    }
}

void OnDisplayChangeMessage() {
    DebugPrint("WM_DISPLAYCHANGE!!!!!!!!!!!!!!!!!\n");
    OnDisplayChange();
}
