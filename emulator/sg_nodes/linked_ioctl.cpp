// The ioctl of a test or benchmark the attachment is linked into: it takes the place of the C
// library's, as the preloaded library's does in the program.
#include <cstdarg>

#include "emulator/sg_nodes/sg_node_attachment.h"

namespace {

emu::SgNodeAttachment* g_pLinkedAttachment = nullptr;

}  // namespace

namespace emu {

void SetLinkedAttachment(SgNodeAttachment* attachment) {
    g_pLinkedAttachment = attachment;
}

}  // namespace emu

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return emu::AttachedIoctl(g_pLinkedAttachment, fd, request, argument);
}
