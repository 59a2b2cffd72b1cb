#pragma once

#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <functional>

#include "FileTestSupport.h"
#include "files/Savers.h"

namespace tandra::test {

// A scratch folder with "image.bin" holding "old contents", and an image of 0x42 bytes to save
// over it.
class AtomicSave : public ::testing::Test {
 protected:
#if !defined(_WIN32)
  static constexpr uid_t kNobody = 65534;
#endif

  ScratchFolder folder;
  const std::string target = folder.file("image.bin");
  ImageBuffer image = imageFor(0x7FFF, 0x42);
  const std::string saved = std::string(0x8000, '\x42');

  void SetUp() override {
    writeFile(target, "old contents");
  }

  std::string saveError(const std::string& path) {
    try {
      Save_Bin_File(image, path);
    } catch (const FileError& error) {
      return error.what();
    }
    return {};
  }
  std::string saveError() {
    return saveError(target);
  }
  int filesInFolder() const {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(folder.path()), {}));
  }

  // What `work` gives when run by a user without special rights: where the tests run as root,
  // in a child process that gives up root for the unprivileged user nobody.
  // (Windows has no root to give up.)
  std::string asNobody(const std::function<std::string()>& work) {
#if defined(_WIN32)
    return work();
#else
    if (::geteuid() != 0) return work();
    int channel[2];
    if (::pipe(channel) != 0) return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(channel[0]);
      if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(2);
      const std::string answer = work();
      const ssize_t ignored = ::write(channel[1], answer.data(), answer.size());
      (void)ignored;
      ::_exit(0);
    }
    ::close(channel[1]);
    std::string answer;
    char chunk[256];
    for (ssize_t got; (got = ::read(channel[0], chunk, sizeof chunk)) > 0;)
      answer.append(chunk, static_cast<std::size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the child could not give up root";
    return answer;
#endif
  }

  // The save's error as an operator without special rights meets it, the scratch folder and
  // its files being the operator's own.
  std::string saveErrorAsOperator() {
#if !defined(_WIN32)
    if (::geteuid() == 0) {
      for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        EXPECT_EQ(::chown(entry.path().c_str(), kNobody, kNobody), 0);
      }
      EXPECT_EQ(::chown(folder.path().c_str(), kNobody, kNobody), 0);
    }
#endif
    return asNobody([this] { return saveError(); });
  }
};

}  // namespace tandra::test
