// SPDX-License-Identifier: GPL-3.0-or-later
#include <array>

#include "resources/resources.h"

extern "C" const std::uint8_t quorvel_p1_begin[];
extern "C" const std::uint8_t quorvel_p1_end[];
extern "C" const std::uint8_t quorvel_p1_picture_begin[];
extern "C" const std::uint8_t quorvel_p1_picture_end[];

namespace quorvel {

ResourceTable builtInResources() {
  static const std::array<Resource, 2> table{
      Resource{"p1", {quorvel_p1_begin, static_cast<std::size_t>(quorvel_p1_end - quorvel_p1_begin)}},
      Resource{kPresentationResource,
               {quorvel_p1_picture_begin,
                static_cast<std::size_t>(quorvel_p1_picture_end - quorvel_p1_picture_begin)}}};
  return table;
}

}  // namespace quorvel
