// Reading a container's directory for people: listing it and finding what is wrong with it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "xfile/container_format.h"

struct ContainerMemberInfo {
    int index;  // position in the directory
    std::string name;
    std::int32_t offset;
    std::int32_t size;
    std::uint16_t attribute;
};

struct ContainerInfo {
    std::string tag;  // the version tag up to its NUL; empty in a container never rewritten
    std::int64_t file_size = 0;
    bool header_complete = false;
    std::vector<ContainerMemberInfo> members;  // used entries, in directory order
};

// Reads the header of the container at `path`. False when the file cannot be read; a short
// header is not an error here (header_complete tells), so that it can be reported.
bool read_container_info(const char* path, ContainerInfo& info);
// The listing of a header image; an image of another size than a header's is incomplete.
ContainerInfo container_info_from_header(std::span<const std::uint8_t> header, std::int64_t file_size);
ContainerInfo container_info_from_header(const container_format::ContainerHeader& header, std::int64_t file_size);

// Why a file cannot be used as a container at all, or empty: its header is incomplete, or an
// entry's data lies outside the file. Overlaps and duplicate names are left to check_container;
// the signature is not compared, as the game does not compare it.
std::string structural_problem(const ContainerInfo& info);

// What is wrong with a container: a short header, entries outside the file, overlapping
// members, duplicate names. Empty when nothing is.
std::vector<std::string> check_container(const ContainerInfo& info);
