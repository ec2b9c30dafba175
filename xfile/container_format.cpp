// Decoding and encoding of the container header and its directory entries.
#include "xfile/container_format.h"

#include <algorithm>
#include <cstring>

#include "base/little_endian.h"

namespace container_format {

std::string_view ContainerEntry::name_text() const {
    const char* end = std::find(name.begin(), name.end(), '\0');
    return {name.data(), static_cast<std::size_t>(end - name.begin())};
}

bool ContainerEntry::name_terminated() const { return std::find(name.begin(), name.end(), '\0') != name.end(); }

void ContainerEntry::set_name(std::string_view text) {
    name.fill(0);
    std::copy_n(text.begin(), std::min(text.size(), kEntryNameBytes - 1), name.begin());
}

ContainerEntry decode_entry(ConstEntryBytes bytes) {
    ContainerEntry e;
    std::memcpy(e.name.data(), bytes.data() + kEntryNameOffset, kEntryNameBytes);
    e.size = le::get32s(bytes.data() + kEntrySizeOffset);
    e.offset = le::get32s(bytes.data() + kEntryDataOffset);
    e.attribute = le::get16(bytes.data() + kEntryAttributeOffset);
    return e;
}

void encode_entry(const ContainerEntry& entry, EntryBytes bytes) {
    std::fill(bytes.begin(), bytes.end(), 0);
    std::memcpy(bytes.data() + kEntryNameOffset, entry.name.data(), kEntryNameBytes);
    le::put32s(bytes.data() + kEntrySizeOffset, entry.size);
    le::put32s(bytes.data() + kEntryDataOffset, entry.offset);
    le::put16(bytes.data() + kEntryAttributeOffset, entry.attribute);
}

bool entry_inside_file(std::int64_t offset, std::int64_t size, std::int64_t file_size) {
    return offset >= kContainerHeaderSize && size >= 0 && offset + size <= file_size;
}

ContainerHeader::ContainerHeader() {
    std::memcpy(image_.data() + kSignatureOffset, kContainerSignature, sizeof kContainerSignature);
}

std::optional<ContainerHeader> ContainerHeader::decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kContainerHeaderSize) return std::nullopt;
    ContainerHeader h;
    std::copy(bytes.begin(), bytes.end(), h.image_.begin());
    return h;
}

bool ContainerHeader::encode(std::span<std::uint8_t> out) const {
    if (out.size() != kContainerHeaderSize) return false;
    std::copy(image_.begin(), image_.end(), out.begin());
    return true;
}

std::array<char, kSignatureBytes> ContainerHeader::signature() const {
    std::array<char, kSignatureBytes> s;
    std::memcpy(s.data(), image_.data() + kSignatureOffset, kSignatureBytes);
    return s;
}

void ContainerHeader::set_signature(const std::array<char, kSignatureBytes>& signature) {
    std::memcpy(image_.data() + kSignatureOffset, signature.data(), kSignatureBytes);
}

std::array<char, kTagBytes> ContainerHeader::tag_bytes() const {
    std::array<char, kTagBytes> t;
    std::memcpy(t.data(), image_.data() + kTagOffset, kTagBytes);
    return t;
}

void ContainerHeader::set_tag_bytes(const std::array<char, kTagBytes>& tag) {
    std::memcpy(image_.data() + kTagOffset, tag.data(), kTagBytes);
}

std::string ContainerHeader::tag() const {
    std::array<char, kTagBytes> t = tag_bytes();
    return std::string(t.data(), strnlen(t.data(), kTagBytes));
}

bool ContainerHeader::tag_newer_than_replaced() const {
    std::array<char, kTagBytes> t = tag_bytes();
    return std::strncmp(t.data(), kReplacedTag, kTagBytes) > 0;
}

void ContainerHeader::stamp_replaced() {
    std::memcpy(image_.data() + kTagOffset, kReplacedTag, kTagBytes);
}

std::uint32_t ContainerHeader::reserved1() const { return le::get32(image_.data() + kReserved1Offset); }
void ContainerHeader::set_reserved1(std::uint32_t v) { le::put32(image_.data() + kReserved1Offset, v); }
std::uint16_t ContainerHeader::reserved2() const { return le::get16(image_.data() + kReserved2Offset); }
void ContainerHeader::set_reserved2(std::uint16_t v) { le::put16(image_.data() + kReserved2Offset, v); }

EntryBytes ContainerHeader::entry_bytes(int index) {
    return EntryBytes(image_.data() + kContainerDirectoryOffset + index * kContainerEntrySize, kContainerEntrySize);
}

ConstEntryBytes ContainerHeader::entry_bytes(int index) const {
    return ConstEntryBytes(image_.data() + kContainerDirectoryOffset + index * kContainerEntrySize,
                           kContainerEntrySize);
}

ContainerEntry ContainerHeader::entry(int index) const { return decode_entry(entry_bytes(index)); }

void ContainerHeader::set_entry(int index, const ContainerEntry& entry) { encode_entry(entry, entry_bytes(index)); }

int ContainerHeader::find_member(std::string_view name) const {
    for (int i = 0; i < kContainerMembers; ++i) {
        ContainerEntry e = entry(i);
        if (e.used() && e.name_terminated() && e.name_text() == name) return i;
    }
    return -1;
}

void ContainerHeader::resize_member(int index, std::int32_t new_size) {
    EntryBytes resized = entry_bytes(index);
    std::int64_t offset = le::get32s(resized.data() + kEntryDataOffset);
    std::int64_t old_size = le::get32s(resized.data() + kEntrySizeOffset);
    std::int64_t old_end = offset + old_size;
    std::int64_t difference = static_cast<std::int64_t>(new_size) - old_size;
    le::put32s(resized.data() + kEntrySizeOffset, new_size);
    for (int i = 0; i < kContainerMembers; ++i) {
        if (i == index) continue;
        std::uint8_t* other = entry_bytes(i).data() + kEntryDataOffset;
        std::int64_t other_offset = le::get32s(other);
        if (other_offset >= old_end) le::put32(other, static_cast<std::uint32_t>(other_offset + difference));
    }
}

}  // namespace container_format
