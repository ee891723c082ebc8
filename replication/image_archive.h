// The image archive file TNP_ARC_0F: besides its mirror table, the images its records
// describe are kept as files in the folder of its database (Tab_Cartelle_DB), fetched from
// the host with the I request in parts and chunks.
//
// Image file name: folder + key (all 10 characters, blanks included) + part "00000" +
// extension by the record's type code. The folder is a prefix, used as it stands (a folder
// is recorded with its trailing "/"); a relative folder is taken from the base folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/program.h"
#include "hostlink/socket_layer.h"
#include "platform/status.h"
#include "replication/change_record.h"

namespace torvan {

// ".TIF", ".BMP", ".JPG", ".PNG" for a type code, or empty when nothing is fetched.
std::string ImageExtension(char type_code);

// The prefix of a record's image files: folder + key. A key that could leave the folder
// (holding "/", "\" or a NUL) is a fault.
Status ImagePrefix(const Program& program, std::string_view folder, std::string_view key,
                   std::string* prefix);

// The file of one part of an image: prefix (ImagePrefix) + part "00000" + extension.
std::string ImageFileName(std::string_view prefix, int32_t part, std::string_view extension);

// Deletes the image files of the key of the before image (codes "2", "3") or of the after
// image (code "1"): every file whose name starts with folder + key and holds a ".".
Status DeleteImages(Program& program, const hostlink::CharTables& tables, std::string_view data,
                    const HostChange& change, std::string_view folder);

// Fetches the images of the after image, when its state is " " and its type code has an
// extension: for each part an empty file, then the chunks 1, 2, ... until the host answers
// with another outcome. A link that breaks while a part is fetched is a fault (the change
// is applied again, images included, once the link is back); a file that cannot be
// written is a fault.
Status FetchImages(Program& program, hostlink::SocketLayer& socket, std::string_view data,
                   const HostChange& change, std::string_view folder);

}  // namespace torvan
