// The upload pass's control flow, over doubles that record every call in order.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "app/Umain.h"
#include "platform/ProgramFolder.h"
#include "runtime/Exception.h"
#include "runtime/Text.h"
#include "tests/support/Catalogue.h"
#include "tests/support/TempFolder.h"

namespace {

// The catalogue beside the program in `folder`, and its rows' keys as SQLite quotes them, with
// their pin, in table order.
std::filesystem::path catalogueIn(const std::filesystem::path& folder) { return folder / "DB" / "REDU.sqlite"; }
std::vector<std::string> keysAndPins(const std::filesystem::path& folder) {
  return testsupport::readCatalogue(catalogueIn(folder), "quote(ID) || ' pin=' || pin");
}

// Both roles of the pass in one double, recording every call in order.
class RecordingRoles : public app::IIconSource, public app::IIconService {
 public:
  std::vector<std::string> calls;
  std::map<std::string, int> icons;         // exepath -> icon number (missing = no icon)
  std::set<std::string> wanted;             // names the service wants
  std::set<std::string> uploadFails;        // names whose upload fails
  std::string saveFailsFor;                 // icon path suffix whose save raises

  class Icon : public app::IIconObject {
   public:
    explicit Icon(RecordingRoles& owner) : owner_(owner) {}
    void AssignImage(platform::IconBitmaps image) override { owner_.log("assign " + std::to_string(image.maskWidth)); }
    void SaveIconFile(const std::u16string& path) override {
      const std::string name = std::filesystem::path(rt::toUtf8(path)).filename().string();
      owner_.log("save " + name);
      if (!owner_.saveFailsFor.empty() && name == owner_.saveFailsFor) throw rt::Exception(u"Cannot create file");
    }

   private:
    RecordingRoles& owner_;
  };

  void log(std::string call) { calls.push_back(std::move(call)); }

  app::UploadRoles roles() {
    return {*this, *this, [this] { log("terminate"); }};
  }

  // One row's executable: its icon carries its number as the mask's width.
  class Executable : public app::IRowExecutable {
   public:
    Executable(RecordingRoles& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
    ~Executable() override { owner_.log("close " + path_); }
    std::optional<platform::IconBitmaps> iconBitmaps() override {
      owner_.log("icon " + path_);
      const auto found = owner_.icons.find(path_);
      if (found == owner_.icons.end()) return std::nullopt;
      platform::IconBitmaps image;
      image.maskWidth = found->second;
      return image;
    }
    std::u16string fileVersionText() override {
      owner_.log("version " + path_);
      return u"1.2.3.4";
    }

   private:
    RecordingRoles& owner_;
    std::string path_;
  };

  std::unique_ptr<app::IRowExecutable> openExecutable(const std::u16string& path) override {
    log("open " + rt::toUtf8(path));
    return std::make_unique<Executable>(*this, rt::toUtf8(path));
  }
  std::unique_ptr<app::IIconObject> createIconObject() override {
    log("icon object");
    return std::make_unique<Icon>(*this);
  }
  bool uploadWanted(const std::u16string& name, const std::u16string& version) override {
    log("exists " + rt::toUtf8(name) + " " + rt::toUtf8(version));
    return wanted.count(rt::toUtf8(name)) > 0;
  }
  bool uploadIcon(const std::u16string& name, const std::u16string& iconPath, const std::u16string& version) override {
    log("upload " + rt::toUtf8(name) + " " + std::filesystem::path(rt::toUtf8(iconPath)).filename().string() + " " +
        rt::toUtf8(version));
    return uploadFails.count(rt::toUtf8(name)) == 0;
  }
};

class UploadPass : public testing::Test {
 protected:
  testsupport::TempFolder folder;
  RecordingRoles operations;

  std::u16string programFolder() const { return folder.path().u16string() + platform::pathSeparator(); }
  void run() { app::FormCreate(operations.roles(), programFolder()); }
};

// Without a catalogue, or with no pending rows, the pass makes nothing and just ends.
TEST_F(UploadPass, NoCatalogueOrNoPendingRowsCreatesNothing) {
  run();
  EXPECT_EQ(operations.calls, (std::vector<std::string>{"terminate"}));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "DB"));

  testsupport::writeCatalogue(catalogueIn(folder.path()),
                              {{1, "Done", "/a.exe", "1", "1"}, {2, "NoIcon", "/b.exe", "0", "0"}});
  operations.calls.clear();
  run();
  EXPECT_EQ(operations.calls, (std::vector<std::string>{"terminate"}));
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "image"));
  EXPECT_EQ(keysAndPins(folder.path()), (std::vector<std::string>{"1 pin=1", "2 pin=0"}));
}

// The row number names the file and is used up by rows without an icon; a row without an icon
// is not given the previous row's icon. Each row's executable is opened once, gives the icon and
// the version, and is closed before the file is written.
TEST_F(UploadPass, RowsWithoutIconUseUpTheirNumber) {
  testsupport::writeCatalogue(catalogueIn(folder.path()), {{7, "A", "/a.exe"}, {8, "B", "/b.exe"}, {9, "C", "/c.exe"}});
  operations.icons = {{"/a.exe", 11}, {"/c.exe", 33}};
  run();
  EXPECT_EQ(operations.calls, (std::vector<std::string>{
                                  "icon object",
                                  "open /a.exe",
                                  "icon /a.exe",
                                  "assign 11",
                                  "version /a.exe",
                                  "close /a.exe",
                                  "save 0.ico",
                                  "exists A 1.2.3.4",
                                  "open /b.exe",
                                  "icon /b.exe",
                                  "close /b.exe",
                                  "open /c.exe",
                                  "icon /c.exe",
                                  "assign 33",
                                  "version /c.exe",
                                  "close /c.exe",
                                  "save 2.ico",
                                  "exists C 1.2.3.4",
                                  "terminate",
                              }));
  EXPECT_TRUE(std::filesystem::is_directory(folder.path() / "image"));
}

// Upload only when wanted; the row is marked after a successful upload, not after a failed one,
// and a folder already there is used as it is.
TEST_F(UploadPass, MarksARowOnlyAfterASuccessfulUpload) {
  testsupport::writeCatalogue(catalogueIn(folder.path()),
                              {{1, "Wanted", "/a.exe"}, {2, "Failing", "/b.exe"}, {3, "Held", "/c.exe"}});
  operations.icons = {{"/a.exe", 1}, {"/b.exe", 2}, {"/c.exe", 3}};
  operations.wanted = {"Wanted", "Failing"};
  operations.uploadFails = {"Failing"};
  std::filesystem::create_directories(folder.path() / "image");
  run();
  std::vector<std::string> serviceCalls;
  for (const auto& call : operations.calls)
    if (call.rfind("exists", 0) == 0 || call.rfind("upload", 0) == 0) serviceCalls.push_back(call);
  EXPECT_EQ(serviceCalls, (std::vector<std::string>{
                              "exists Wanted 1.2.3.4",
                              "upload Wanted 0.ico 1.2.3.4",
                              "exists Failing 1.2.3.4",
                              "upload Failing 1.ico 1.2.3.4",
                              "exists Held 1.2.3.4",
                          }));
  EXPECT_EQ(keysAndPins(folder.path()), (std::vector<std::string>{"1 pin=1", "2 pin=0", "3 pin=0"}));
}

// An error stops the pass where it happens: later rows are not touched and no termination is
// requested by the pass itself (the application reports the error and then terminates).
TEST_F(UploadPass, AnErrorStopsThePass) {
  testsupport::writeCatalogue(catalogueIn(folder.path()), {{1, "A", "/a.exe"}, {2, "B", "/b.exe"}, {3, "C", "/c.exe"}});
  operations.icons = {{"/a.exe", 1}, {"/b.exe", 2}, {"/c.exe", 3}};
  operations.wanted = {"A", "B", "C"};
  operations.saveFailsFor = "1.ico";
  EXPECT_THROW(run(), rt::Exception);
  EXPECT_EQ(operations.calls.back(), "save 1.ico");
  EXPECT_EQ(std::count(operations.calls.begin(), operations.calls.end(), "open /c.exe"), 0);
  EXPECT_EQ(std::count(operations.calls.begin(), operations.calls.end(), "terminate"), 0);
}

// A catalogue without the table raises the catalogue error out of the pass.
TEST_F(UploadPass, ACatalogueWithoutTheTableRaises) {
  std::filesystem::create_directories(folder.path() / "DB");
  testsupport::writeFileBytes(folder.path() / "DB" / "REDU.sqlite", "");
  EXPECT_THROW(run(), rt::Exception);
}

// A hostile catalogue: a table without declared types whose first name is a number, and an ID
// that is null, a real or a text. Every name reaches the service as stored, every key goes back
// with its own type (in a column without a declared type a key bound as text would match no
// number), and the row without a key is uploaded but never marked.
TEST_F(UploadPass, KeysAndNamesKeepTheirStoredTypes) {
  testsupport::writeCatalogue(catalogueIn(folder.path()),
                              {{5, 7, "/a.exe"}, {nullptr, "Null Key", "/a.exe"}, {2.7, "Real Key", "/a.exe"},
                               {"abc", "Text Key", "/a.exe"}},
                              "ID, softname, exepath, pin, exticon");
  operations.icons = {{"/a.exe", 1}};
  operations.wanted = {"7", "Null Key", "Real Key", "Text Key"};
  run();
  std::vector<std::string> serviceCalls;
  for (const auto& call : operations.calls)
    if (call.rfind("upload", 0) == 0) serviceCalls.push_back(call);
  EXPECT_EQ(serviceCalls, (std::vector<std::string>{
                              "upload 7 0.ico 1.2.3.4",
                              "upload Null Key 1.ico 1.2.3.4",
                              "upload Real Key 2.ico 1.2.3.4",
                              "upload Text Key 3.ico 1.2.3.4",
                          }));
  EXPECT_EQ(keysAndPins(folder.path()), (std::vector<std::string>{"5 pin=1", "NULL pin=0", "2.7 pin=1", "'abc' pin=1"}));
}

}  // namespace
