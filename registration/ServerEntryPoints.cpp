#include "registration/ServerEntryPoints.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "close/CCloseData.h"

namespace closewright {
namespace {

std::string LibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) != 0 && info.dli_fname != nullptr) {
    return std::filesystem::absolute(info.dli_fname).string();
  }
  return "libclosewright.so";
}

std::string SectionName() {
  return ToString(kClsidCCloseData);
}

// Built by appending: GCC 12 warns falsely (-Wrestrict, GCC bug 105329) about "[" + std::string at -O2.
std::string SectionHeader() {
  std::string header(1, '[');
  header += SectionName();
  header += ']';
  return header;
}

// Keeps every line of the registry file that does not belong to this class's section.
std::vector<std::string> OtherEntries(const std::string& path) {
  std::vector<std::string> kept;
  std::ifstream in(path);
  std::string line;
  bool ours = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.front() == '[') ours = line == SectionHeader();
    if (!ours) kept.push_back(line);
  }
  return kept;
}

bool WriteRegistry(const std::string& path, const std::vector<std::string>& lines) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
    if (!out.flush()) return false;
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

}  // namespace

std::int32_t CloseDataClassObject::CreateInstance(const Guid& iid, std::shared_ptr<Dispatch>& object) const {
  if (!AnswersInterface(iid)) return kNoInterface;
  object = std::make_shared<CCloseData>();
  return kSOk;
}

std::string RegistryFilePath() {
  if (const char* explicitPath = std::getenv("CLOSEWRIGHT_REGISTRY"); explicitPath && *explicitPath) {
    return explicitPath;
  }
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
    return std::string(config) + "/closewright/registry";
  }
  const char* home = std::getenv("HOME");
  return std::string(home ? home : ".") + "/.config/closewright/registry";
}

}  // namespace closewright

using namespace closewright;

extern "C" {

__attribute__((visibility("default"))) std::int32_t DllRegisterServer() {
  const std::string path = RegistryFilePath();
  std::vector<std::string> lines = OtherEntries(path);
  std::ostringstream typeLibrary;
  typeLibrary << ToString(kLibidClosewright) << ' ' << kTypeLibraryMajor << '.' << kTypeLibraryMinor << ' '
              << kTypeLibraryLocale;
  lines.push_back(SectionHeader());
  lines.push_back("ProgID=" + std::string(kCloseDataProgId));
  lines.push_back("InprocServer32=" + LibraryPath());
  lines.push_back("ThreadingModel=Apartment");
  lines.push_back("TypeLib=" + typeLibrary.str());
  return WriteRegistry(path, lines) ? kSOk : kSelfRegClassError;
}

__attribute__((visibility("default"))) std::int32_t DllUnregisterServer() {
  const std::string path = RegistryFilePath();
  if (!std::filesystem::exists(path)) return kSOk;
  return WriteRegistry(path, OtherEntries(path)) ? kSOk : kSelfRegClassError;
}

__attribute__((visibility("default"))) std::int32_t DllGetClassObject(const Guid* clsid, const Guid* iid,
                                                                      void** classObject) {
  if (classObject == nullptr || clsid == nullptr || iid == nullptr) return kNoInterface;
  *classObject = nullptr;
  if (!(*clsid == kClsidCCloseData)) return kClassNotAvailable;
  if (!(*iid == kIidIClassFactory || *iid == kIidIUnknown)) return kNoInterface;
  static const CloseDataClassObject instance;
  *classObject = const_cast<CloseDataClassObject*>(&instance);
  return kSOk;
}

__attribute__((visibility("default"))) std::int32_t DllCanUnloadNow() {
  return CCloseData::LiveObjectCount() == 0 ? kSOk : kSFalse;
}
}
