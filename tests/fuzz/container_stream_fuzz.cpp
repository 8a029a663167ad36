// SPDX-License-Identifier: GPL-3.0-or-later
// The input is read as a container stream, and also wrapped into one and read
// back. Only the reader's declared errors may come out; anything else
// escapes and crashes the run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>
#include <vector>

#include "automation/automation.h"
#include "document/compound_file.h"
#include "document/container_stream.h"

using namespace quorvel;

namespace {

constexpr std::uint32_t kReadFault = 0x8003001Eu;

void check(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

std::uint32_t u32At(std::span<const std::uint8_t> s, std::size_t at) {
  return s[at] | s[at + 1] << 8 | s[at + 2] << 16 | static_cast<std::uint32_t>(s[at + 3]) << 24;
}

enum class Result { Read, BadFormat, CutShort };

Result read(std::span<const std::uint8_t> stream, ContainerContents &out) {
  try {
    out = readContainerStream(stream);
    return Result::Read;
  } catch (const OleSysError &e) {
    check(e.code() == kReadFault, "a system error is the read fault");
    return Result::CutShort;
  } catch (const OleError &e) {
    check(std::string_view(e.what()) == "Invalid stream format", "format error text");
    return Result::BadFormat;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);

  // The input as a stream: the outcome follows from the header alone.
  ContainerContents got{};
  const Result r = read(input, got);
  const bool headerOk = size >= kContainerHeaderSize && u32At(input, 0) == kContainerSignature;
  if (!headerOk) {
    check(r == Result::BadFormat, "bad header is an invalid format");
  } else if (u32At(input, 8) > size - kContainerHeaderSize) {
    check(r == Result::CutShort, "data shorter than its size field is a read fault");
  } else {
    check(r == Result::Read, "a whole stream is read");
    check(got.drawAspect == u32At(input, 4), "draw aspect from the header");
    check(got.data.data() == data + kContainerHeaderSize, "data starts after the header");
    check(got.data.size() == u32At(input, 8), "data is as long as the size field says");
    check(got.data.data() + got.data.size() <= data + size, "data lies within the stream");
  }

  // The input as data: wrapped and read back unchanged, trailing bytes ignored.
  std::vector<std::uint8_t> stream = buildContainerStream(input);
  check(stream.size() == size + kContainerHeaderSize, "stream is header plus data");
  stream.push_back(0xAB);
  ContainerContents back{};
  check(read(stream, back) == Result::Read, "own stream reads back");
  check(back.drawAspect == kDrawAspectContent, "own stream draws content");
  check(std::equal(back.data.begin(), back.data.end(), input.begin(), input.end()),
        "own stream gives the data back");

  // Cut short by one byte, it must be refused rather than over-read.
  if (size > 0) {
    stream.resize(size + kContainerHeaderSize - 1);
    check(read(stream, back) == Result::CutShort, "truncated stream is a read fault");
  }

  // The data as a compound file: any bytes are judged, within them (the
  // sanitizers catch a read past the end) and in bounded time.
  const bool readable = isReadableCompoundFile(input);
  check(!readable || hasCompoundFileSignature(input), "a readable compound file has the signature");
  return 0;
}
