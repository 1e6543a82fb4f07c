#include "kvcap/pipewire_buffer_linux.h"

#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>

#include <algorithm>
#include <cstring>

bool ReadStreamFormat(const spa_pod* format, int maxSize, StreamFormat* out) {
    spa_video_info_raw info{};
    if (spa_format_video_raw_parse(format, &info) < 0 || info.size.width == 0 ||
        info.size.height == 0 || info.size.width > static_cast<uint32_t>(maxSize) ||
        info.size.height > static_cast<uint32_t>(maxSize)) {
        return false;
    }
    // The parse stores whatever id the compositor sent in the enum; read as the number it is.
    uint32_t id = 0;
    std::memcpy(&id, &info.format, sizeof id);
    for (const StreamFormatLayout& known : kStreamFormats) {
        if (static_cast<uint32_t>(known.format) == id) {
            out->width = static_cast<int>(info.size.width);
            out->height = static_cast<int>(info.size.height);
            out->layout = known.layout;
            return true;
        }
    }
    return false;
}

bool BufferHoldsPicture(const spa_buffer* buffer) {
    auto* header = static_cast<const spa_meta_header*>(
        spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
    if (header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED) != 0) {
        return false;
    }
    if (buffer->n_datas == 0) {
        return false;
    }
    const spa_data& data = buffer->datas[0];
    return data.data != nullptr && data.chunk != nullptr && data.chunk->size > 0 &&
           (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) == 0;
}

bool BufferShowsChange(const spa_buffer* buffer) {
    auto* damage = static_cast<const spa_meta*>(spa_buffer_find_meta(buffer, SPA_META_VideoDamage));
    if (damage == nullptr) {
        return true;
    }
    const spa_meta_region* first = nullptr;
    spa_meta_for_each(first, damage) {
        return spa_meta_region_is_valid(first);
    }
    return false;
}

PixelRect PictureCrop(const spa_buffer* buffer, int width, int height) {
    const PixelRect whole{0, 0, width, height};
    auto* crop = static_cast<const spa_meta_region*>(
        spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
    if (crop == nullptr || !spa_meta_region_is_valid(crop)) {
        return whole;
    }
    // In 64 bits: a position near INT32_MAX plus a size near UINT32_MAX does not wrap.
    const int64_t left = std::max<int64_t>(crop->region.position.x, 0);
    const int64_t top = std::max<int64_t>(crop->region.position.y, 0);
    const int64_t right =
        std::min<int64_t>(int64_t{crop->region.position.x} + crop->region.size.width, width);
    const int64_t bottom =
        std::min<int64_t>(int64_t{crop->region.position.y} + crop->region.size.height, height);
    if (left >= right || top >= bottom) {
        return whole;
    }
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

bool CopyPicture(const spa_data& data, int width, int height, PixelRect crop,
                 std::vector<uint8_t>* pixels) {
    if (data.data == nullptr || data.chunk == nullptr || data.maxsize == 0 || width <= 0 ||
        height <= 0 || data.chunk->stride <= 0 || crop.x < 0 || crop.y < 0 || crop.width <= 0 ||
        crop.height <= 0 || crop.width > width - crop.x || crop.height > height - crop.y) {
        return false;
    }
    const uint64_t row = uint64_t{static_cast<uint32_t>(width)} * 4;
    const uint64_t stride = static_cast<uint32_t>(data.chunk->stride);
    const uint64_t offset = data.chunk->offset % data.maxsize;
    // In 64 bits, stride and height below 2^31 each: no product wraps.
    if (stride < row || offset + stride * static_cast<uint32_t>(height - 1) + row > data.maxsize) {
        return false;
    }
    const size_t cropRow = static_cast<size_t>(crop.width) * 4;
    pixels->resize(cropRow * static_cast<size_t>(crop.height));
    const auto* from = static_cast<const uint8_t*>(data.data) + offset +
                       stride * static_cast<uint32_t>(crop.y) + static_cast<size_t>(crop.x) * 4;
    for (int y = 0; y < crop.height; ++y) {
        std::memcpy(pixels->data() + cropRow * y, from + stride * y, cropRow);
    }
    return true;
}
