#include "pack/core/compress.h"

#include <zlib.h>

#include <fstream>
#include <vector>

#include "pack/core/files.h"

namespace vorlane {

Status gzip_file(const std::string& from, const std::string& to, int level) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return system_failure("read", from);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!out) return system_failure("write", to);
  z_stream z{};
  // 15 + 16: a gzip wrapper with a zeroed header.
  if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return step_failed("cannot start compressing " + from);
  }
  std::vector<char> input(1 << 16);
  std::vector<char> output(1 << 16);
  int flush = Z_NO_FLUSH;
  int rc = Z_OK;
  do {
    in.read(input.data(), static_cast<std::streamsize>(input.size()));
    z.next_in = reinterpret_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(in.gcount());
    flush = in.eof() ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = reinterpret_cast<Bytef*>(output.data());
      z.avail_out = static_cast<uInt>(output.size());
      rc = deflate(&z, flush);
      out.write(output.data(), static_cast<std::streamsize>(output.size() - z.avail_out));
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH && in);
  deflateEnd(&z);
  if (in.bad()) return system_failure("read", from);
  out.close();
  if (!out) return system_failure("write", to);
  if (rc != Z_STREAM_END) return step_failed("cannot compress " + from);
  return done();
}

}  // namespace vorlane
