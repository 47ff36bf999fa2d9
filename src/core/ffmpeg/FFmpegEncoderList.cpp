// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ffmpeg/FFmpegEncoderList.h"

namespace kolvex {

FFmpegEncoderList::FFmpegEncoderList(std::set<std::string> names) : m_names(std::move(names)) { m_isRead = true; }

FFmpegEncoderList::FFmpegEncoderList(Read read) : m_read(std::move(read)) {}

std::shared_ptr<const FFmpegEncoderList> FFmpegEncoderList::of(BundledFFmpeg tools) {
    return std::make_shared<FFmpegEncoderList>([tools = std::move(tools)] { return tools.availableEncoders(); });
}

const std::set<std::string>& FFmpegEncoderList::names() const {
    if (m_isRead.load(std::memory_order_acquire)) return m_names;
    std::call_once(m_once, [this] {
        if (m_read) m_names = m_read();
        m_read = nullptr;
        m_isRead.store(true, std::memory_order_release);
    });
    return m_names;
}

bool FFmpegEncoderList::isRead() const { return m_isRead.load(std::memory_order_acquire); }

}  // namespace kolvex
