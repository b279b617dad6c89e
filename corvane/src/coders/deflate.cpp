#include "coders/deflate.h"

#include <zlib.h>

#include <algorithm>
#include <string>

namespace corvane::deflate {
namespace {

// zlib counts in 32-bit units; the input and output are handed over in
// pieces it can describe.
constexpr std::size_t kZlibPieceBytes = std::size_t{1} << 30;

// The first output step of the encoder: coded coefficients take a fraction
// of deflateBound, so a small output grows in steps as zlib fills it.
constexpr std::size_t kFirstStepBytes = std::size_t{1} << 16;

// Bytes zlib inflates per call. zlib also copies the output of every call
// (up to its 32 KiB window) into its window, so with pieces no larger than
// the window every coefficient byte would be copied once more; 256 KiB cuts
// that to an eighth and still stays in the core's cache for the
// dequantisation.
constexpr std::size_t kInflatePieceBytes = std::size_t{1} << 18;

CorvaneError failed(std::string text) { return CorvaneError::decompression_failed(std::move(text)); }

}  // namespace

// The output grows by a quarter of the input, then doubling, never past
// deflateBound. A bound large enough for its own huge-page mapping is taken
// at once: only the pages zlib reaches are ever touched, so nothing is
// copied. zlib writes every byte it reports, so nothing is cleared either.
CResult<> encode(std::span<const std::uint8_t> in, tessary::Buffer<std::uint8_t>& out) {
  z_stream zs{};
  if (deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return CorvaneError::io(zs.msg ? zs.msg : "deflate initialisation failed");
  }
  const std::size_t start = out.size();
  const std::uint64_t bound = deflateBound(&zs, static_cast<uLong>(in.size()));
  std::size_t produced = 0;
  std::size_t in_left = in.size();
  zs.next_in = const_cast<Bytef*>(in.data());
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (start + produced == out.size()) {
      const std::uint64_t room = out.size() - start;
      const std::uint64_t first = start + bound >= tessary::kLargeBufferBytes
                                      ? bound
                                      : std::max<std::uint64_t>(in.size() / 4, kFirstStepBytes);
      const std::uint64_t want =
          std::min<std::uint64_t>(bound, std::max<std::uint64_t>(2 * room, first));
      if (want <= room) {
        deflateEnd(&zs);
        return CorvaneError::io("deflate output exceeded its bound");
      }
      if (auto grown = out.resize_for_overwrite(start + want); !grown) {
        deflateEnd(&zs);
        return CorvaneError::out_of_memory(grown.error());
      }
    }
    const std::size_t in_now = std::min(in_left, kZlibPieceBytes);
    const std::size_t out_now = std::min(out.size() - start - produced, kZlibPieceBytes);
    zs.avail_in = static_cast<uInt>(in_now);
    zs.next_out = out.data() + start + produced;
    zs.avail_out = static_cast<uInt>(out_now);
    const int flush = in_now == in_left ? Z_FINISH : Z_NO_FLUSH;
    rc = ::deflate(&zs, flush);
    in_left -= in_now - zs.avail_in;
    produced += out_now - zs.avail_out;
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
      const std::string text = zs.msg ? zs.msg : zError(rc);
      deflateEnd(&zs);
      return CorvaneError::io(text);
    }
  }
  deflateEnd(&zs);
  // Shrinking keeps the block where it is and cannot fail.
  static_cast<void>(out.resize(start + produced));
  return {};
}

CResult<> decode(std::span<const std::uint8_t> payload, coders::CoefficientSink& sink) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) {
    return failed(zs.msg ? zs.msg : "inflate initialisation failed");
  }
  if (auto s = sink.reserve_for_payload(payload.size()); !s) {
    inflateEnd(&zs);
    return s;
  }
  auto made_piece = tessary::Buffer<std::uint8_t>::for_overwrite(kInflatePieceBytes);
  if (!made_piece) {
    inflateEnd(&zs);
    return CorvaneError::out_of_memory(made_piece.error());
  }
  std::uint8_t* const piece = made_piece.value().data();
  const std::uint8_t* next_in = payload.data();
  std::size_t in_left = payload.size();
  while (true) {
    const std::size_t in_now = std::min(in_left, kZlibPieceBytes);
    zs.next_in = const_cast<Bytef*>(next_in);
    zs.avail_in = static_cast<uInt>(in_now);
    zs.next_out = piece;
    zs.avail_out = static_cast<uInt>(kInflatePieceBytes);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const std::size_t consumed = in_now - zs.avail_in;
    const std::size_t written = kInflatePieceBytes - zs.avail_out;
    next_in += consumed;
    in_left -= consumed;
    if (rc == Z_DATA_ERROR) {
      inflateEnd(&zs);
      return failed("corrupt deflate stream");
    }
    if (rc == Z_MEM_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
      const std::string text = zs.msg ? zs.msg : zError(rc);
      inflateEnd(&zs);
      return failed(text);
    }
    if (auto s = sink.take({piece, written}); !s) {
      inflateEnd(&zs);
      return s;
    }
    if (rc == Z_STREAM_END) break;
    // Z_BUF_ERROR or Z_OK without progress: the payload ended before the
    // stream did; keep what was produced.
    if (consumed == 0 && written == 0 && in_left == 0) break;
  }
  inflateEnd(&zs);
  return {};
}

}  // namespace corvane::deflate
