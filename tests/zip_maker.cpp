#include "zip_maker.h"

#include <zlib.h>

namespace quorvin::test {

namespace {

void Put16(std::string& out, uint64_t v) {
  for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put32(std::string& out, uint64_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace

std::string MakeZip(const std::vector<ZipEntry>& entries, const ZipLayout& layout) {
  std::string out;
  std::string central;
  const uint16_t version = layout.zip64 ? 45 : 20;
  for (const ZipEntry& e : entries) {
    const std::string stored = e.deflate && !e.method ? RawDeflate(e.data) : e.data;
    const uint16_t method = e.method ? *e.method : (e.deflate ? 8 : 0);
    const uint32_t crc =
        e.crc ? *e.crc
              : static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                            static_cast<uInt>(e.data.size())));
    const uint64_t usize = e.size ? *e.size : e.data.size();
    const uint64_t csize = stored.size();
    const uint64_t offset = out.size();
    const std::string& local_name = e.local_name ? *e.local_name : e.name;

    out += "PK\x03\x04";
    Put16(out, version);
    Put16(out, e.flags);
    Put16(out, method);
    Put16(out, 0);     // time
    Put16(out, 0x21);  // 1980-01-01
    Put32(out, e.local_crc ? *e.local_crc : crc);
    Put32(out, layout.zip64 ? 0xFFFFFFFFu : csize);
    Put32(out, layout.zip64 ? 0xFFFFFFFFu : usize);
    Put16(out, local_name.size());
    Put16(out, layout.zip64 ? 20 : 0);
    out += local_name;
    if (layout.zip64) {
      Put16(out, 1);
      Put16(out, 16);
      Put64(out, usize);
      Put64(out, csize);
    }
    out += stored;

    central += "PK\x01\x02";
    Put16(central, version);
    Put16(central, version);
    Put16(central, e.flags);
    Put16(central, method);
    Put16(central, 0);
    Put16(central, 0x21);
    Put32(central, crc);
    Put32(central, layout.zip64 ? 0xFFFFFFFFu : csize);
    Put32(central, layout.zip64 ? 0xFFFFFFFFu : usize);
    Put16(central, e.name.size());
    Put16(central, layout.zip64 ? 28 : 0);
    Put16(central, 0);  // comment
    Put16(central, 0);  // disk
    Put16(central, 0);  // internal attributes
    Put32(central, 0);  // external attributes
    Put32(central, layout.zip64 ? 0xFFFFFFFFu : offset);
    central += e.name;
    if (layout.zip64) {
      Put16(central, 1);
      Put16(central, 24);
      Put64(central, usize);
      Put64(central, csize);
      Put64(central, offset);
    }
  }
  const uint64_t cd_offset = out.size();
  out += central;
  if (layout.zip64) {
    const uint64_t eocd64 = out.size();
    out += "PK\x06\x06";
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, entries.size());
    Put64(out, entries.size());
    Put64(out, central.size());
    Put64(out, cd_offset);
    out += "PK\x06\x07";
    Put32(out, 0);
    Put64(out, eocd64);
    Put32(out, 1);
  }
  out += "PK\x05\x06";
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, layout.zip64 ? 0xFFFF : entries.size());
  Put16(out, layout.zip64 ? 0xFFFF : entries.size());
  Put32(out, layout.zip64 ? 0xFFFFFFFFu : central.size());
  Put32(out, layout.zip64 ? 0xFFFFFFFFu : cd_offset);
  Put16(out, layout.comment.size());
  out += layout.comment;
  out += layout.trailing;
  return out;
}

}  // namespace quorvin::test
