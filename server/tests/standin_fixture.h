#pragma once
// A stand-in server laid out in a fresh temporary folder, unregistered and without program
// folder, for tests of the server's own components.

#include <gtest/gtest.h>

#include <string>

#include "common/standin_files.h"
#include "handles/handles.h"
#include "layout/server_layout.h"
#include "support/temp_dir.h"

namespace standintest {

class ServerFolderTest : public ::testing::Test {
 protected:
  // Lays out the server with `options` (its folder and registration are set here).
  void LayOut(serverlayout::Options options = {}) {
    options.serverFolder = dir_ / L"Server";
    options.registration = serverlayout::Registration::kNone;
    options.layOutProgram = false;
    serverlayout::Result result;
    ASSERT_TRUE(serverlayout::LayOutServer(options, &result)) << standin::ToUtf8(result.error);
    server_ = result.serverFolder;
  }

  std::wstring InServer(const std::wstring& name) const { return server_ + L"\\" + name; }

  fw::UniqueModule Load(const wchar_t* library) const {
    return fw::UniqueModule(
        ::LoadLibraryExW(InServer(library).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  }

  // Journal lines written since the last call.
  std::vector<std::string> NewJournalLines(const wchar_t* journal) {
    const std::string text = testsupport::ReadBytes(InServer(journal));
    std::vector<std::string> lines;
    size_t start = journalRead_;
    while (start < text.size()) {
      const size_t end = text.find("\r\n", start);
      if (end == std::string::npos) {
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    journalRead_ = start;
    return lines;
  }

  testsupport::TempDir dir_;
  std::wstring server_;
  size_t journalRead_ = 0;
};

}  // namespace standintest
