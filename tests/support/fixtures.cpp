#include "support/fixtures.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vexa::test {

namespace fs = std::filesystem;

std::string TestData(const std::string& rel) { return std::string(VEXA_TESTDATA_DIR) + "/" + rel; }

std::vector<std::string> DataFiles(const std::string& folder, const std::vector<std::string>& extensions,
                                   bool recursive) {
  std::vector<std::string> files;
  const fs::path root = TestData(folder);
  auto take = [&](const fs::directory_entry& e) {
    const std::string name = e.path().filename().string();
    const bool wanted = extensions.empty() || std::any_of(extensions.begin(), extensions.end(), [&](const std::string& x) {
                          return name.size() > x.size() && name.ends_with(x);
                        });
    if (e.is_regular_file() && wanted) files.push_back(folder + "/" + e.path().lexically_relative(root).string());
  };
  std::error_code ec;
  if (recursive)
    for (const auto& e : fs::recursive_directory_iterator(root, ec)) take(e);
  else
    for (const auto& e : fs::directory_iterator(root, ec)) take(e);
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f.good()) << "cannot write " << path;
}

bool InCI() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

std::string TempPath(const std::string& name) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test = info ? std::string(info->test_suite_name()) + "." + info->name() : "";
  for (char& c : test)
    if (c == '/') c = '_';
  return (fs::temp_directory_path() / ("vexa_" + std::to_string(::getpid()) + "_" + test + "_" + name)).string();
}

TScratchDir::TScratchDir() : FPath(TempPath("dir")) {
  fs::remove_all(FPath);
  fs::create_directories(FPath);
}

TScratchDir::~TScratchDir() {
  std::error_code ec;
  fs::remove_all(FPath, ec);
}

std::string TScratchDir::Copy(const std::string& rel, const std::string& name) const {
  const std::string src = TestData(rel);
  if (!fs::exists(src)) return {};
  fs::copy_file(src, FPath / name, fs::copy_options::overwrite_existing);
  return (FPath / name).string();
}

int64_t TFailingStream::Write(const void* buffer, int64_t count) {
  if (Size() + count > FBudget) throw EWriteError("disk full");
  return TMemoryStream::Write(buffer, count);
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

TCliRun RunCli(const std::string& args) {
  TCliRun r;
  const std::string errFile = TempPath("cli_stderr.txt");
  const std::string cmd = Quote(VEXA_CLI_PATH) + " " + args + " 2>" + Quote(errFile);
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.Out.append(buf, n);
  const int status = pclose(p);
  r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const std::vector<uint8_t> err = ReadFileBytes(errFile);
  r.Err.assign(err.begin(), err.end());
  std::remove(errFile.c_str());
  return r;
}

}  // namespace vexa::test
