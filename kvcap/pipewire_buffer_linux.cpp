#include "kvcap/pipewire_buffer_linux.h"

#include <spa/buffer/meta.h>

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
