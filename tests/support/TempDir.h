#pragma once
// Scratch folders for the tests: each one new and empty under the system's temporary folder
// (mkdtemp, so that two test programs running at once never share one).
//
//   fsv::test::TempDir dir("fsv-state");
//   write(dir / "AddressBook.dat");   // the folder and what it holds go with `dir`

#include <filesystem>
#include <string>

namespace fsv::test {

// Makes the folder "<temporary folder>/<prefix>-XXXXXX"; empty when it could not be made. The
// caller removes it.
std::filesystem::path makeTempDir(const std::string& prefix);

class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "fsv-test");
    ~TempDir();  // removes the folder and everything in it
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

}  // namespace fsv::test
