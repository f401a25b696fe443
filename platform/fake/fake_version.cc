// The fake's version resources: a block inside the file's bytes that holds
// the file version, so a version survives a download and a signature, and
// the block is read the way version.dll reads a program (by path, sharing
// with readers).
#include <algorithm>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/file.h"
#include "platform/version.h"

namespace fake {
namespace {

constexpr char kMarker[] = "\n--fake-version--\n";
constexpr char kEnd = ';';
// What version.dll answers for a file that is no program at all.
constexpr uint32_t kErrorBadExeFormat = 193;

// The version block's text ("MS,LS"), or false with the last error set.
bool ReadBlock(const std::wstring& path, std::string* block) {
  platform::Handle file = platform::CreateFileW(
      path, platform::kGenericRead, platform::kFileShareRead | platform::kFileShareDelete,
      platform::kOpenExisting, platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandleValue) return false;
  std::string bytes;
  ReadWholeOpenFile(file, &bytes);
  platform::CloseHandle(file);
  if (bytes.compare(0, 2, "MZ") != 0) {
    platform::SetLastError(kErrorBadExeFormat);
    return false;
  }
  size_t at = bytes.find(kMarker);
  size_t end = at == std::string::npos ? at : bytes.find(kEnd, at);
  if (end == std::string::npos) {
    platform::SetLastError(platform::kErrorResourceDataNotFound);
    return false;
  }
  size_t start = at + sizeof(kMarker) - 1;
  *block = bytes.substr(start, end - start);
  return true;
}

}  // namespace

std::string WithVersion(const std::string& program, uint16_t a, uint16_t b, uint16_t c,
                        uint16_t d) {
  return program + kMarker + std::to_string(uint32_t{a} << 16 | b) + "," +
         std::to_string(uint32_t{c} << 16 | d) + kEnd;
}

}  // namespace fake

namespace platform {

uint32_t GetFileVersionInfoSizeW(const std::wstring& path) {
  std::string block;
  return fake::ReadBlock(path, &block) ? static_cast<uint32_t>(block.size()) : 0;
}

bool GetFileVersionInfoW(const std::wstring& path, uint32_t size, std::vector<uint8_t>* block) {
  block->assign(size, 0);
  std::string text;
  if (!fake::ReadBlock(path, &text)) return false;
  std::copy_n(text.begin(), std::min<size_t>(size, text.size()), block->begin());
  return true;
}

bool VerQueryValueW(const std::vector<uint8_t>& block, const std::wstring& subBlock,
                    FixedFileInfo* info) {
  std::string text(block.begin(), block.end());
  size_t comma = text.find(',');
  if (subBlock != L"\\" || comma == std::string::npos) return false;
  info->signature = kVsFfiSignature;
  info->fileVersionMS = static_cast<uint32_t>(std::stoul(text.substr(0, comma)));
  info->fileVersionLS = static_cast<uint32_t>(std::stoul(text.substr(comma + 1)));
  return true;
}

}  // namespace platform
