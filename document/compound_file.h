// SPDX-License-Identifier: GPL-3.0-or-later
// Whether bytes hold a compound file (the .doc format's container) that can
// be read: its header, its sector allocation table, its directory, and the
// sector chains of its streams, all within the data and free of loops.
//
// The container opens its data as a compound file before anything else, as
// a document container does. This matters because LibreOffice 26.8 opens a
// damaged .doc as plain text (35 pages of its raw bytes) instead of failing
// as 7.4 does.
#pragma once

#include <cstdint>
#include <span>

namespace quorvel {

// The system's code for a compound file whose structure is damaged.
inline constexpr std::uint32_t kCompoundFileCorrupt = 0x80030109u;  // STG_E_DOCFILECORRUPT

bool isReadableCompoundFile(std::span<const std::uint8_t> data);

}  // namespace quorvel
