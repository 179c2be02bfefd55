// Resources of a PE file on disk: finding one by type and name, and giving a finished program a resource
// without moving anything that is already in it.
#pragma once
#include <string>
#include <string_view>

#include "crash/stack/image_file.h"

namespace rvxsym {

// The data of the resource with that type and name (both names, compared without case; first language).
bool FindNamedResource(const rvx::ImageFile& image, std::string_view type, std::string_view name, std::string& data);

// Adds (or replaces) the resource type/name to the PE file held in `file`. The new resource directory and the
// data go into a new last section; every existing section, the code above all, keeps its place and its bytes,
// and the old resource data stays where it is, referenced from the new directory. False with a reason when
// the file is no 32-bit PE file or its headers have no room for another section.
bool EmbedNamedResource(std::string& file, std::string_view type, std::string_view name, std::string_view data,
                        std::string& error);

}  // namespace rvxsym
