#include "support/test_util.h"

#include <fstream>
#include <iostream>
#include <random>
#include <stdexcept>

namespace quorvel::testing {

TempDir::TempDir() {
  std::random_device random;
  auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("quorvel-test-" + std::to_string(random()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

CaptureStream::CaptureStream(std::ostream& stream) : stream_(stream), saved_(nullptr) {
  saved_ = stream_.rdbuf(buffer_.rdbuf());
}

CaptureStream::~CaptureStream() { stream_.rdbuf(saved_); }

std::filesystem::path quorvel_binary() { return QUORVEL_BINARY; }
std::filesystem::path source_dir() { return QUORVEL_SOURCE_DIR; }

ProgramResult run_quorvel(const std::vector<std::string>& args,
                          const std::map<std::string, std::string>& env,
                          const std::filesystem::path& cwd) {
  std::vector<std::string> argv{quorvel_binary().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::map<std::string, std::string> full_env = env;
  full_env.try_emplace("QUORVEL_MIXER", "");
  return run_command(argv, full_env, cwd);
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    i += 1 + extra;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string utf16_bytes(std::u16string_view units, bool big_endian, bool bom) {
  std::string out;
  auto put = [&](char16_t unit) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    out += big_endian ? high : low;
    out += big_endian ? low : high;
  };
  if (bom) put(0xFEFF);
  for (char16_t unit : units) put(unit);
  return out;
}

std::string utf16le_to_utf8(const std::string& bytes) {
  std::size_t i = 0;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    i = 2;
  }
  std::u16string units;
  for (; i + 1 < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return utf16_to_utf8(units);
}

std::string listing(DocNode node, int depth) {
  std::string out;
  for (DocNode child = node.first_child(); child; child = child.next_sibling()) {
    out += std::string(static_cast<std::size_t>(depth), ' ') +
           std::to_string(static_cast<int>(child.kind())) + " " + std::string(child.name()) +
           " [" + std::string(child.value()) + "]";
    for (std::uint32_t i = 0; i < child.attribute_count(); ++i) {
      out += " " + std::string(child.attribute_at(i).name()) + "=" +
             std::string(child.attribute_at(i).value());
    }
    out += "\n" + listing(child, depth + 1);
  }
  return out;
}

}  // namespace quorvel::testing
