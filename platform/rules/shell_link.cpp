// The shell-link reader. The file, all numbers little-endian:
//
//   header        76 bytes: size 0x4C | class id {00021401-0000-0000-C000-000000000046} |
//                 link flags | attributes | 3 file times | file size | icon | show | hot key | 0s
//   item-id list  if flags & 0x01: u16 size, then that many bytes (skipped)
//   link info     if flags & 0x02 and not 0x100: u32 size, u32 header size, u32 info flags,
//                 u32 volume id, u32 local base path, u32 network link, u32 path suffix offsets
//                 [u32 unicode local base path, u32 unicode suffix, when header size >= 0x24];
//                 offsets count from the link info's start, strings end with a NUL inside it
//   strings       each u16 count, then count characters (UTF-16 when flags & 0x80), no NUL:
//                 description (0x04), relative path (0x08), working directory (0x10),
//                 arguments (0x20), icon location (0x40)
//   extra data    (not read)
#include "platform/rules/shell_link.h"

#include <cstring>

#include "base/little_endian.h"
#include "platform/rules/winpath.h"

namespace plat {

namespace {

constexpr std::uint32_t kHeaderSize = 0x4C;
constexpr std::uint8_t kLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                           0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

constexpr std::uint32_t kHasIdList = 0x01;
constexpr std::uint32_t kHasLinkInfo = 0x02;
constexpr std::uint32_t kHasName = 0x04;
constexpr std::uint32_t kHasRelativePath = 0x08;
constexpr std::uint32_t kHasWorkingDir = 0x10;
constexpr std::uint32_t kHasArguments = 0x20;
constexpr std::uint32_t kHasIconLocation = 0x40;
constexpr std::uint32_t kIsUnicode = 0x80;
constexpr std::uint32_t kForceNoLinkInfo = 0x100;

constexpr std::uint32_t kInfoHasLocalPath = 0x01;
constexpr std::uint32_t kInfoHasNetworkPath = 0x02;

// A bounded cursor over the file: every read says whether the bytes were there.
struct Cursor {
    std::span<const std::uint8_t> bytes;
    std::size_t pos = 0;

    bool has(std::size_t n) const { return n <= bytes.size() - pos; }
    bool u16(std::uint16_t* v) {
        if (!has(2)) return false;
        *v = le::get16(bytes.data() + pos);
        pos += 2;
        return true;
    }
    bool u32(std::uint32_t* v) {
        if (!has(4)) return false;
        *v = le::get32(bytes.data() + pos);
        pos += 4;
        return true;
    }
    bool skip(std::size_t n) {
        if (!has(n)) return false;
        pos += n;
        return true;
    }
};

void append_utf8(std::string* out, std::uint32_t cp) {
    if (cp < 0x80) {
        *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out += static_cast<char>(0xC0 | (cp >> 6));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out += static_cast<char>(0xE0 | (cp >> 12));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (cp >> 18));
        *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// `count` UTF-16 units at p, in UTF-8; a unit of a broken surrogate pair becomes U+FFFD.
std::string utf16_to_utf8(const std::uint8_t* p, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t u = le::get16(p + 2 * i);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < count) {
            std::uint32_t low = le::get16(p + 2 * (i + 1));
            if (low >= 0xDC00 && low < 0xE000) {
                append_utf8(&out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        append_utf8(&out, u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
    }
    return out;
}

// A NUL-terminated single-byte string at `offset` of `block`; false when no NUL ends it there.
bool string_in(std::span<const std::uint8_t> block, std::uint32_t offset, std::string* out) {
    if (offset >= block.size()) return false;
    const void* nul = std::memchr(block.data() + offset, 0, block.size() - offset);
    if (!nul) return false;
    out->assign(reinterpret_cast<const char*>(block.data() + offset),
                static_cast<const std::uint8_t*>(nul) - (block.data() + offset));
    return true;
}

// The same for a NUL-terminated UTF-16 string, which comes back in UTF-8.
bool wide_string_in(std::span<const std::uint8_t> block, std::uint32_t offset, std::string* out) {
    if (offset >= block.size()) return false;
    std::size_t units = (block.size() - offset) / 2;
    const std::uint8_t* p = block.data() + offset;
    for (std::size_t i = 0; i < units; ++i) {
        if (le::get16(p + 2 * i) == 0) {
            *out = utf16_to_utf8(p, i);
            return true;
        }
    }
    return false;
}

bool read_link_info(Cursor& c, ShellLink* out) {
    std::size_t start = c.pos;
    std::uint32_t size = 0, header_size = 0, info_flags = 0, volume = 0, local = 0, network = 0, suffix = 0;
    if (!c.u32(&size) || size < 0x1C || !c.has(size - 4)) return false;
    std::span<const std::uint8_t> block = c.bytes.subspan(start, size);
    Cursor h{block, 4};
    if (!h.u32(&header_size) || !h.u32(&info_flags) || !h.u32(&volume) || !h.u32(&local) ||
        !h.u32(&network) || !h.u32(&suffix))
        return false;
    if (header_size < 0x1C || header_size > size) return false;
    out->has_link_info = true;
    if (info_flags & kInfoHasLocalPath) {
        std::uint32_t local_wide = 0, suffix_wide = 0;
        if (header_size >= 0x24 && h.u32(&local_wide) && h.u32(&suffix_wide) && local_wide != 0) {
            if (!wide_string_in(block, local_wide, &out->local_base_path)) return false;
            if (suffix_wide != 0 && !wide_string_in(block, suffix_wide, &out->common_path_suffix)) return false;
            out->wide_local_path = true;
        } else {
            if (!string_in(block, local, &out->local_base_path)) return false;
            if (!string_in(block, suffix, &out->common_path_suffix)) return false;
        }
    } else if (!(info_flags & kInfoHasNetworkPath)) {
        out->has_link_info = false;
    }
    c.pos = start + size;
    return true;
}

bool read_string(Cursor& c, bool unicode, std::string* out) {
    std::uint16_t count = 0;
    if (!c.u16(&count)) return false;
    std::size_t bytes = unicode ? 2u * count : count;
    if (!c.has(bytes)) return false;
    const std::uint8_t* p = c.bytes.data() + c.pos;
    *out = unicode ? utf16_to_utf8(p, count) : std::string(reinterpret_cast<const char*>(p), count);
    // Some writers count a closing NUL in the string; the text ends there.
    out->resize(std::strlen(out->c_str()));
    c.pos += bytes;
    return true;
}

}  // namespace

std::string join_relative_path(const std::string& folder, const std::string& relative) {
    std::string joined = folder;
    if (!joined.empty() && !is_path_separator(joined.back())) joined += '\\';
    joined += relative;
    WindowsPath wp = parse_windows_path(joined);
    if (wp.drive == 0) return joined;
    std::string out;
    out += wp.drive;
    out += ":";
    for (const std::string& part : wp.components) out += "\\" + part;
    if (wp.components.empty()) out += "\\";
    return out;
}

bool parse_shell_link(std::span<const std::uint8_t> bytes, ShellLink* out) {
    *out = ShellLink{};
    Cursor c{bytes, 0};
    std::uint32_t header_size = 0;
    if (!c.u32(&header_size) || header_size != kHeaderSize || !c.has(kHeaderSize - 4)) return false;
    if (std::memcmp(bytes.data() + 4, kLinkClassId, sizeof kLinkClassId) != 0) return false;
    out->flags = le::get32(bytes.data() + 20);
    c.pos = kHeaderSize;

    if (out->flags & kHasIdList) {
        std::uint16_t size = 0;
        if (!c.u16(&size) || !c.skip(size)) return false;
    }
    if ((out->flags & kHasLinkInfo) && !(out->flags & kForceNoLinkInfo)) {
        if (!read_link_info(c, out)) return false;
    } else if (out->flags & kHasLinkInfo) {
        std::uint32_t size = 0;
        std::size_t start = c.pos;
        if (!c.u32(&size) || size < 4 || !c.has(size - 4)) return false;
        c.pos = start + size;
    }
    bool unicode = (out->flags & kIsUnicode) != 0;
    std::string icon;
    const std::pair<std::uint32_t, std::string*> strings[] = {
        {kHasName, &out->description},         {kHasRelativePath, &out->relative_path},
        {kHasWorkingDir, &out->working_directory}, {kHasArguments, &out->arguments},
        {kHasIconLocation, &icon},
    };
    for (const auto& [flag, field] : strings)
        if ((out->flags & flag) && !read_string(c, unicode, field)) return false;
    return true;
}

LinkTarget shell_link_target(const ShellLink& link) {
    using Kind = LinkTarget::Kind;
    if (link.has_link_info && !link.local_base_path.empty()) {
        std::string path = link.local_base_path;
        if (!link.common_path_suffix.empty()) {
            if (!is_path_separator(path.back())) path += '\\';
            path += link.common_path_suffix;
        }
        return {Kind::LocalPath, path, link.wide_local_path};
    }
    bool wide_strings = (link.flags & kIsUnicode) != 0;
    if (!link.relative_path.empty()) return {Kind::RelativePath, link.relative_path, wide_strings};
    if (!link.working_directory.empty()) {
        std::string dir = link.working_directory;
        if (!is_path_separator(dir.back())) dir += '\\';
        return {Kind::WorkingDirectory, dir, wide_strings};
    }
    return {};
}

}  // namespace plat
