// Saves and loads as Windows has them: a file replaced with ReplaceFileW keeps its attributes and
// access list, a file another program holds is refused and kept, and names are taken as UTF-8
// whatever letters and spaces they hold, beyond MAX_PATH too with the \\?\ prefix.
#include <aclapi.h>
#include <direct.h>
#include <sddl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "CliProcess.h"
#include "common/FileError.h"
#include "common/FileNames.h"
#include "files/Loaders.h"
#include "files/Savers.h"
#include "image/ImageBuffer.h"

namespace tandra::test {
namespace {

namespace fs = std::filesystem;

constexpr FileFormat kFormats[] = {FileFormat::Binary, FileFormat::IntelHex,
                                   FileFormat::MotorolaHex, FileFormat::AsciiHex};

// A folder of its own for each case, removed afterwards (read-only files too).
class WindowsSave : public ::testing::Test {
 protected:
  WindowsSave() {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("tandra-windows-" + std::to_string(random()));
    fs::create_directories(folder_);
  }
  ~WindowsSave() override {
    std::error_code ignored;
    const fs::path whole = L"\\\\?\\" + folder_.native();  // with its long names
    for (auto entry = fs::recursive_directory_iterator(whole, ignored);
         entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
      ::SetFileAttributesW(entry->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(whole, ignored);
  }

  // The file's name in the folder, as a program is given it: UTF-8.
  std::string file(const std::string& name) const {
    const std::u8string text = (folder_ / fs::u8path(name)).u8string();
    return {text.begin(), text.end()};
  }
  int filesInFolder() const {
    return static_cast<int>(std::distance(fs::directory_iterator(folder_), {}));
  }
  // The names in the folder but those Wine's ReplaceFileW leaves when it refuses (its own
  // temporary "rf*.tmp", which Windows' does not make).
  std::string namesInFolder() const {
    std::string names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      const std::string name = programsName(entry.path().filename());
      if (!(name.starts_with("rf") && name.ends_with(".tmp"))) names += name + " ";
    }
    return names;
  }
  static ImageBuffer image(std::uint8_t seed) {
    ImageBuffer image;
    image.deviceEndAddress = 0x7FF;
    for (std::int32_t a = 0; a <= image.deviceEndAddress; ++a) {
      image[a] = static_cast<std::uint8_t>(a * 7 + seed);
    }
    return image;
  }
  // Saves and loads back in every format, twice, so that the second save replaces the first.
  void saveTwiceAndLoadEveryFormat(const std::string& stem) {
    for (FileFormat format : kFormats) {
      const std::string path = stem + "." + std::to_string(static_cast<int>(format));
      SCOPED_TRACE(path);
      for (const std::uint8_t seed : {std::uint8_t{1}, std::uint8_t{2}}) {
        ASSERT_NO_THROW(saveInFormat(image(seed), path, format));
        ImageBuffer loaded;
        loaded.deviceEndAddress = 0x7FF;
        if (format == FileFormat::Binary) {
          Load_Bin_File(loaded, path);
        } else {
          Load_Hex_File(loaded, path);
        }
        EXPECT_TRUE(std::equal(loaded.data(), loaded.data() + 0x800, image(seed).data()));
      }
    }
  }
  std::string saveError(const std::string& path) {
    try {
      saveInFormat(image(3), path, FileFormat::Binary);
    } catch (const FileError& error) {
      return errorBoxText(error);
    }
    return {};
  }

  fs::path folder_;
};

// The folder a case works in, for as long as it lives.
class WorkingFolder {
 public:
  explicit WorkingFolder(const fs::path& folder) : before_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~WorkingFolder() { fs::current_path(before_); }

 private:
  fs::path before_;
};

TEST_F(WindowsSave, EveryFormatSavedAgainOverAFileNamedWithoutItsFolder) {
  // "tandra-cli convert a.hex out.bin", twice: the name alone, in the working folder.
  const WorkingFolder working(folder_);
  saveTwiceAndLoadEveryFormat("out");
  EXPECT_EQ(filesInFolder(), 4);  // no temporary file left
}

TEST_F(WindowsSave, NamesWithSpacesAndLettersBeyondAscii) {
  saveTwiceAndLoadEveryFormat(file("Prüfung Ω 27C256 – Säge"));
  EXPECT_TRUE(fs::exists(folder_ / L"Pr\u00FCfung \u03A9 27C256 \u2013 S\u00E4ge.0"));
  EXPECT_EQ(filesInFolder(), 4);
}

TEST_F(WindowsSave, NamesBeyondMaxPathThroughTheLongPathPrefix) {
  fs::path deep = folder_;
  while (deep.native().size() < 300) deep /= std::wstring(40, L'd');
  ASSERT_TRUE(fs::create_directories(L"\\\\?\\" + deep.native()));
  const std::u8string prefixed = fs::path(L"\\\\?\\" + deep.native() + L"\\image").u8string();
  saveTwiceAndLoadEveryFormat(std::string(prefixed.begin(), prefixed.end()));
}

// The file's attributes and its access list in the system's own words.
std::wstring accessListOf(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL list = nullptr;
  if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    return L"none";
  }
  LPWSTR text = nullptr;
  ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
  std::wstring shown = text != nullptr ? text : L"none";
  ::LocalFree(text);
  ::LocalFree(descriptor);
  return shown;
}

TEST_F(WindowsSave, AReplacedFileKeepsItsAttributesAndAccessList) {
  const std::string path = file("kept.hex");
  const std::wstring name = fs::u8path(path).native();
  saveInFormat(image(1), path, FileFormat::IntelHex);
  // Everyone may change it, as a file a line's computers share, and nothing is inherited from
  // the folder (a new file would let everyone read it only).
  PSECURITY_DESCRIPTOR given = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FA;;;OW)(A;;FA;;;WD)", SDDL_REVISION_1, &given, nullptr));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL list = nullptr;
  ::GetSecurityDescriptorDacl(given, &present, &list, &defaulted);
  ASSERT_EQ(::SetNamedSecurityInfoW(const_cast<LPWSTR>(name.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, list, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  ::LocalFree(given);
  ASSERT_TRUE(::SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  const std::wstring before = accessListOf(name);

  ASSERT_NO_THROW(saveInFormat(image(2), path, FileFormat::IntelHex));
  EXPECT_EQ(::GetFileAttributesW(name.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(utf8(accessListOf(name)), utf8(before));
  saveInFormat(image(3), file("new.hex"), FileFormat::IntelHex);
  EXPECT_NE(utf8(accessListOf(fs::u8path(file("new.hex")).native())), utf8(before))
      << "the list given is a new file's: the case shows nothing";
  EXPECT_EQ(filesInFolder(), 2);
}

TEST_F(WindowsSave, AFileAnotherProgramHoldsIsRefusedAndKept) {
  const std::string path = file("held.bin");
  std::ofstream(fs::u8path(path), std::ios::binary) << "old contents";
  {
    // Held as an editor that locks its file holds it: read, shared for reading only.
    const HANDLE held = ::CreateFileW(fs::u8path(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(saveError(path), "File access denied.\n" + path +
                                   "\nAnother program may have the file open: close it there, "
                                   "then save again.");
    ::CloseHandle(held);
  }
  std::ifstream kept(fs::u8path(path), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "old contents");
  kept.close();
  EXPECT_EQ(namesInFolder(), "held.bin ");
  {
    // A viewer that shares everything does not stand in the way.
    const HANDLE viewed = ::CreateFileW(fs::u8path(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(saveError(path), "");
    ::CloseHandle(viewed);
  }
  EXPECT_EQ(fs::file_size(fs::u8path(path)), 0x800u);
  // A file marked read-only is refused, and stays as it was.
  std::ofstream(fs::u8path(path), std::ios::binary | std::ios::trunc) << "old contents";
  ASSERT_TRUE(::SetFileAttributesW(fs::u8path(path).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(saveError(path).starts_with("File access denied.")) << saveError(path);
  EXPECT_EQ(fs::file_size(fs::u8path(path)), 12u);
}

// The window and the loaders hold names in UTF-8; Windows names files in UTF-16.
TEST(WindowsNames, TheProgramsNamesAreTheSystemsNames) {
  const std::string name = "C:\\Prüfungen\\Säge Ω 27C256.hex";
  EXPECT_EQ(fileSystemPath(name).native(), L"C:\\Pr\u00FCfungen\\S\u00E4ge \u03A9 27C256.hex");
  EXPECT_EQ(programsName(fileSystemPath(name)), name);
}

// ReplaceFileW on Wine's own terms: Wine makes its temporary file in the folder it finds in the
// replaced file's name as given, and finds none in a name without one (dlls/kernelbase/file.c,
// ReplaceFileW: the name's folder taken with PathRemoveFileSpecW before GetTempFileNameW; later
// Wine takes it from the full NT name). Windows takes either; the program gives full names.
TEST(WineReplaceFile, ANameWithoutItsFolderIsRefusedByWineAlone) {
  const fs::path folder = fs::temp_directory_path() / "tandra-wine-replace";
  fs::create_directories(folder);
  const fs::path before = fs::current_path();
  fs::current_path(folder);
  const auto replaceBare = [](const wchar_t* replaced, const wchar_t* replacement) {
    std::ofstream(fs::path(replaced)) << "old";
    std::ofstream(fs::path(replacement)) << "new";
    const BOOL done = ::ReplaceFileW(replaced, replacement, nullptr, 0, nullptr, nullptr);
    return done ? DWORD{ERROR_SUCCESS} : ::GetLastError();
  };
  const DWORD bare = replaceBare(L"a.txt", L"b.txt");
  const DWORD dotted = replaceBare(L".\\a.txt", L".\\b.txt");
  fs::current_path(before);
  fs::remove_all(folder);
  const bool wine =
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  EXPECT_EQ(dotted, DWORD{ERROR_SUCCESS});
  if (!wine || bare != ERROR_SUCCESS) {
    EXPECT_EQ(bare, wine ? DWORD{ERROR_DIRECTORY} : DWORD{ERROR_SUCCESS});
  }
}

}  // namespace
}  // namespace tandra::test
