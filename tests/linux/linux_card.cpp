#include "linux_card.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "card/scan.h"
#include "common/card_state.h"
#include "images/destination.h"
#include "install/install_setting.h"
#include "linux/linux_host.h"
#include "linux/process.h"
#include "linux/templates.h"
#include "res/ids.h"
#include "sfdisk_entries.h"

namespace linux_cards {
namespace fs = std::filesystem;

namespace {

std::string TempFolder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/vorn-linux-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  return folder;
}

// The test program's folder goes when it ends.
class TempFolderRemoval : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code error;
    fs::remove_all(TempFolder(), error);
  }
};
const ::testing::Environment* const kRemoval = ::testing::AddGlobalTestEnvironment(new TempFolderRemoval);

std::string Mtools(const std::string& image, std::uint64_t firstSector) {
  return image + "@@" + std::to_string(firstSector * 512);
}

}  // namespace

std::string Run(const std::vector<std::string>& arguments) {
  const linuxhost::ToolResult result = linuxhost::RunTool(arguments, {"MTOOLS_SKIP_CHECK=1"});
  EXPECT_TRUE(result.Succeeded()) << arguments[0] << " failed:\n" << result.output << result.errors;
  return result.output;
}

bool Succeeds(const std::vector<std::string>& arguments) {
  return linuxhost::RunTool(arguments, {"MTOOLS_SKIP_CHECK=1"}).Succeeded();
}

LoopCard::LoopCard(std::uint64_t bytes, bool readOnly) {
  static int count = 0;
  image_ = TempFolder() + "/card" + std::to_string(++count) + ".img";
  std::ofstream(image_, std::ios::trunc).close();
  fs::resize_file(image_, bytes);
  std::vector<std::string> attach = {"losetup", "-f", "--show"};
  if (readOnly) attach.push_back("-r");
  attach.push_back(image_);
  const linuxhost::ToolResult attached = linuxhost::RunTool(attach);
  device_ = attached.Succeeded() ? attached.output.substr(0, attached.output.find('\n')) : image_;
  if (!Loop()) std::cout << "losetup was refused: the test uses the image file itself\n";
}

LoopCard::~LoopCard() {
  Detach();
  std::error_code error;
  fs::remove(image_, error);
}

void LoopCard::Detach() {
  // Partition nodes a test made by hand outlive the loop device otherwise.
  if (Loop()) linuxhost::RunTool({"partx", "-d", device_});
  if (Loop()) Run({"losetup", "-d", device_});
  device_ = image_;
}

void LoopCard::Partition(const std::vector<std::vector<std::uint64_t>>& entries) const {
  std::ostringstream table;
  table << "label: dos\n";
  for (const auto& entry : entries) {
    table << "start=" << entry[1] << ",size=" << entry[2] << ",type=" << std::hex << entry[0] << std::dec << "\n";
  }
  const std::string script = TempFolder() + "/table";
  std::ofstream(script) << table.str();
  Run({"sh", "-c", "sfdisk -q --no-reread '" + image_ + "' < '" + script + "'"});
}

void LoopCard::Format(std::uint64_t firstSector, std::uint64_t sectors, int fatBits) const {
  Run({"mkfs.fat", "-F", std::to_string(fatBits), "-h", std::to_string(firstSector), "--offset",
       std::to_string(firstSector), image_, std::to_string(sectors / 2)});
}

void LoopCard::Put(std::uint64_t firstSector, const std::string& path, const std::string& content) const {
  for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    Succeeds({"mmd", "-D", "s", "-i", Mtools(image_, firstSector), "::/" + path.substr(0, slash)});
  }
  const std::string local = TempFolder() + "/put";
  std::ofstream(local, std::ios::trunc) << content;
  Run({"mcopy", "-o", "-i", Mtools(image_, firstSector), local, "::/" + path});
}

std::vector<std::string> LoopCard::Entries() const {
  return testing_cards::SfdiskEntriesOf(Run({"sfdisk", "-d", image_}));
}

// fsck.fat on the partition alone, through a read-only loop device over its
// bytes; a sparse copy where losetup is refused.
void LoopCard::ExpectClean(std::uint64_t firstSector, std::uint64_t sectors) const {
  const linuxhost::ToolResult view =
      linuxhost::RunTool({"losetup", "-f", "--show", "-r", "-o", std::to_string(firstSector * 512), "--sizelimit",
                          std::to_string(sectors * 512), image_});
  if (view.Succeeded()) {
    const std::string device = view.output.substr(0, view.output.find('\n'));
    Run({"fsck.fat", "-n", device});
    Run({"losetup", "-d", device});
    return;
  }
  const std::string copy = TempFolder() + "/part";
  Run({"dd", "if=" + image_, "of=" + copy, "bs=512", "skip=" + std::to_string(firstSector),
       "count=" + std::to_string(sectors), "conv=sparse", "status=none"});
  Run({"fsck.fat", "-n", copy});
  fs::remove(copy);
}

std::string LoopCard::File(std::uint64_t firstSector, const std::string& path) const {
  return Run({"mtype", "-i", Mtools(image_, firstSector), "::/" + path});
}

bool LoopCard::Exists(std::uint64_t firstSector, const std::string& path) const {
  return Succeeds({"mdir", "-i", Mtools(image_, firstSector), "::/" + path});
}

std::string LoopCard::Bytes(std::uint64_t offset, std::size_t size) const {
  std::string bytes(size, '\0');
  std::ifstream file(image_, std::ios::binary);
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(bytes.data(), static_cast<std::streamsize>(size));
  return bytes;
}

std::size_t LoopCard::Fingerprint() const {
  const int in = ::open(image_.c_str(), O_RDONLY);
  std::string all;
  std::vector<char> buffer(1 << 20);
  for (off_t data = ::lseek(in, 0, SEEK_DATA); data >= 0;) {
    const off_t hole = ::lseek(in, data, SEEK_HOLE);
    for (off_t at = data; at < hole;) {
      const ssize_t got = ::pread(in, buffer.data(), std::min<std::size_t>(buffer.size(), static_cast<std::size_t>(hole - at)), at);
      if (got <= 0) break;
      // Sector by sector, zeros left out: zeros written over a hole are
      // the same bytes.
      for (ssize_t sector = 0; sector < got; sector += 512) {
        const char* bytes = buffer.data() + sector;
        const std::size_t size = std::min<std::size_t>(512, static_cast<std::size_t>(got - sector));
        if (std::all_of(bytes, bytes + size, [](char c) { return c == 0; })) continue;
        all += std::to_string(at + sector) + ":";
        all.append(bytes, size);
      }
      at += got;
    }
    data = ::lseek(in, hole, SEEK_DATA);
  }
  ::close(in);
  return std::hash<std::string>{}(all);
}

void LoopCard::Keep() const {
  const char* folder = std::getenv("VORN_KEEP_CARDS");
  if (folder == nullptr || *folder == '\0') return;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  std::replace(name.begin(), name.end(), '/', '.');
  fs::create_directories(folder);
  Run({"cp", "--sparse=always", image_, std::string(folder) + "/" + name + ".linux.img"});
}

Script::~Script() {
  for (const Expected& box : boxes_) ADD_FAILURE() << "expected box not shown: " << box.caption << " / " << box.text;
  for (const auto& dialog : dialogs_) ADD_FAILURE() << "expected dialog not run: " << dialog.first;
  linuxhost::SetFrontend(nullptr);
}

void Script::Box(const std::string& caption, const std::string& text, int answer, std::function<void()> before) {
  boxes_.push_back({caption, text, answer, std::move(before)});
}

void Script::Dialog(const std::string& name, std::function<void(linuxhost::Dialog&)> user) {
  dialogs_.emplace_back(name, std::move(user));
}

int Script::MessageBox(const std::string& text, const std::string& caption, unsigned) {
  // The box that names the card: Yes, unless the script expects it.
  if (caption == linuxhost::CatalogueText(MSG_CAPTION_CARD_AT_STAKE) &&
      (boxes_.empty() || boxes_.front().caption != caption)) {
    return host::kIdYes;
  }
  if (boxes_.empty()) {
    ADD_FAILURE() << "unexpected box: " << caption << " / " << text;
    return host::kIdCancel;
  }
  Expected box = std::move(boxes_.front());
  boxes_.pop_front();
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, text);
  if (box.before) box.before();
  return box.answer;
}

void Script::RunDialog(linuxhost::Dialog& dialog) {
  if (dialogs_.empty() || dialogs_.front().first != dialog.Name()) {
    ADD_FAILURE() << "unexpected dialog " << dialog.Name();
    return;
  }
  auto user = std::move(dialogs_.front().second);
  dialogs_.pop_front();
  user(dialog);
}

std::string Script::BrowseForFolder(const std::string&, const std::string&) {
  ADD_FAILURE() << "unexpected folder browser";
  return {};
}

std::string TestHome() {
  const std::string home = TempFolder() + "/home";
  fs::create_directories(home);
  return home;
}

std::string MakeAddOnFolder() {
  static int count = 0;
  const std::string folder = TempFolder() + "/addon" + std::to_string(++count);
  const std::pair<const char*, const char*> files[] = {
      {"DISKBOOT.BIN", "boot file"}, {"PS.FIR", "firmware"}, {"LYRE/LYRE.BIN", "add-on"},
      {"DCIM/100TEST/README.TXT", "dcim"}, {"LYRE.CFG.L", "config left"}, {"LYRE.CFG.R", "config right"}};
  for (const auto& [name, content] : files) {
    fs::create_directories(fs::path(folder + "/" + name).parent_path());
    std::ofstream(folder + "/" + name) << content;
  }
  return folder;
}

std::string StartProgram(Script& script) {
  ::setenv("HOME", TestHome().c_str(), 1);
  ::unsetenv("SUDO_USER");
  ::unsetenv("XDG_CONFIG_HOME");
  const std::string folder = MakeAddOnFolder();
  std::string refusal;
  EXPECT_TRUE(linuxhost::SetAddOnFolder(folder, refusal)) << refusal;
  linuxhost::ForgetCards();
  common::gCardState = common::CardState{};
  card::ResetButtonVisibilityState();
  install::gInstallOptions = install::InstallOptions{};  // as at program start
  images::gDeleteAfterCopy = false;
  linuxhost::SetFrontend(&script);
  linuxhost::CreateMainWindow();
  return folder;
}

void InsertCard(const std::string& device) {
  std::string refusal;
  ASSERT_TRUE(linuxhost::NameCard(device, refusal)) << refusal;
  linuxhost::Tick();
  ASSERT_TRUE(common::CardIdentified()) << linuxhost::Window().Text(IDC_STATUS);
}

}  // namespace linux_cards
