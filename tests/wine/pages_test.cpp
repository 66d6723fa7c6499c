// The wizard's layout: every control where its template puts it, the body and
// head bitmaps sized and placed from the bitmap files (which are gone once
// the wizard is up), and the bold Arial of the two titles alone.
#include <algorithm>
#include <tuple>

#include "rig.h"

namespace zqrig {
namespace {

// One control of a template: its parent as the driver names it, its ID and
// its rectangle in dialog units.
struct Placed {
  const char* parent;
  int id;
  int x, y, w, h;
};

// IDD_WIZARD (101), IDD_WELCOME (102) and IDD_HEADER (103), each in template
// order; the -1 controls of one parent are told apart by that order.
const Placed kTemplates[] = {
    {"wizard", 1002, 177, 199, 50, 14},  {"wizard", 1000, 235, 199, 50, 14},  {"wizard", 1001, 293, 199, 50, 14},
    {"wizard", -1, 0, 190, 351, 1},      {"wizard", 1008, 0, 34, 351, 1},     {"wizard", 1009, 25, 43, 300, 18},
    {"wizard", 1003, 118, 164, 113, 10}, {"wizard", 1004, 118, 176, 135, 10}, {"wizard", 1005, 25, 65, 300, 95},
    {"welcome", 1006, 135, 50, 205, 25}, {"welcome", 1007, 135, 10, 205, 30}, {"welcome", -1, 135, 85, 148, 8},
    {"welcome", -1, 135, 120, 205, 20},  {"welcome", -1, 135, 145, 205, 40},  {"welcome", 1012, 0, 0, 20, 20},
    {"header", 1011, 313, 0, 37, 34},    {"header", 1010, 15, 7, 90, 10},     {"header", -1, 25, 18, 205, 8},
};
const uint32_t kEtchedHorz = 0x10;  // SS_ETCHEDHORZ, as the low bits of a static's style

// The controls of `parent` with this ID, in Z-order (the order of creation).
std::vector<const Control*> Children(const State& state, const std::string& parent, int id) {
  std::vector<const Control*> found;
  for (const Control& control : state.controls)
    if (control.parent == parent && control.id == id) found.push_back(&control);
  return found;
}

// Every control of the three templates at its template rectangle, converted
// as the dialog manager converts it; `except` names controls whose size the
// test sets itself (the bitmap statics).
void ExpectTemplateRectangles(const State& state, std::vector<int> except = {}) {
  std::map<std::pair<std::string, int>, size_t> seen;
  for (const Placed& placed : kTemplates) {
    size_t index = seen[{placed.parent, placed.id}]++;
    std::vector<const Control*> found = Children(state, placed.parent, placed.id);
    if (index >= found.size()) {
      ADD_FAILURE() << "no control " << placed.id << " #" << index << " in " << placed.parent << "\n"
                    << state.Transcript();
      continue;
    }
    if (std::find(except.begin(), except.end(), placed.id) != except.end()) continue;
    const Control& control = *found[index];
    Rect want = state.Pixels(placed.x, placed.y, placed.w, placed.h);
    // An etched rule's own window procedure adds its 2-pixel edge to the
    // width (seen under Wine); its place and height are the template's.
    if (control.cls == "Static" && (control.style & 0x1F) == kEtchedHorz && control.rect.w > want.w &&
        control.rect.w <= want.w + 2)
      want.w = control.rect.w;
    EXPECT_EQ(control.rect, want) << placed.parent << " control " << placed.id << " #" << index << ": " << control.line;
  }
  const Control* welcome = state.Page("welcome");
  const Control* header = state.Page("header");
  ASSERT_TRUE(welcome && header) << state.Transcript();
  EXPECT_EQ(welcome->rect, state.Pixels(0, 0, 350, 190)) << welcome->line;
  EXPECT_EQ(header->rect, state.Pixels(0, 0, 350, 34)) << header->line;
}

class Pages : public ProgramTest {
 protected:
  // Runs the sample with BodyBitmap `bodyName`, HeadBitmap `headName` and
  // these files in place of its bitmaps up to the wizard; describes the
  // Welcome, then the License view.  The driver ends the setup there, so
  // the Workspace keeps what the wizard left.
  Outcome ShowPages(const std::string& bodyName, const std::string& headName, const std::vector<Entry>& bitmaps) const {
    std::vector<Entry> entries = SampleFiles(SampleIni({{"BodyBitmap", bodyName}, {"HeadBitmap", headName}}));
    entries.erase(entries.begin() + 1, entries.begin() + 3);  // body.bmp, head.bmp
    entries.insert(entries.end(), bitmaps.begin(), bitmaps.end());
    for (const fs::path& earlier : Workspaces(folder().Temp())) fs::remove_all(earlier);
    Launch launch = Installed(WriteSetup(entries));
    launch.script.Wizard().State().Click(1000).State();
    return Drive(launch);
  }
  std::vector<std::string> WorkspaceFiles() const { return FilesIn(OnlyWorkspace()); }
};

const std::vector<std::string> kLeftInWorkspace = {"DEMO.CAB", "Setup.ini"};

// Without usable bitmaps (the body file missing, the head file no BMP) every
// control keeps its template rectangle, in both views; the head file is gone
// all the same.  Only the two titles are in bold Arial.
TEST_P(Pages, TemplatesSetEveryRectangleAndFont) {
  Outcome run = ShowPages("missing.bmp", "garbage.bmp", {{"garbage.bmp", Bytes("BM but not a bitmap")}});
  ASSERT_TRUE(run.Clean());
  ASSERT_EQ(run.states.size(), 2u) << run;
  for (const State& state : run.states) ExpectTemplateRectangles(state);
  EXPECT_EQ(WorkspaceFiles(), kLeftInWorkspace);

  const State& state = run.states[0];
  for (const Control& control : state.controls) {
    bool title =
        (control.parent == "welcome" && control.id == 1007) || (control.parent == "header" && control.id == 1010);
    if (title || !control.page.empty()) continue;
    EXPECT_FALSE(control.face == "Arial" || control.weight >= 700) << control.line;
    // The page texts keep the dialog font (the bitmap statics draw no text).
    bool pageText = control.parent != "wizard" && control.id != 1011 && control.id != 1012;
    if (pageText) {
      EXPECT_EQ(control.font, "dialog") << control.line;
    }
  }
  // The two titles: bold Arial, -18 with charset 0 and -8 with charset 1.
  for (const auto& [parent, id, height, charset] : {std::make_tuple("welcome", 1007, -18L, 0),
                                                     std::make_tuple("header", 1010, -8L, 1)}) {
    const Control* title = state.Find(id, parent);
    ASSERT_TRUE(title) << state.Transcript();
    EXPECT_TRUE(title->font == "own" && title->face == "Arial" && title->height == height && title->weight == 700 &&
                title->charset == charset)
        << "wanted own bold Arial " << height << ", charset " << charset << ", saw " << title->line;
  }
}

// The other way round (the body file no BMP, the head value naming a bitmap
// outside the Workspace): both statics keep their template size, the body
// file is gone, and the bitmap outside is neither used nor deleted.
TEST_P(Pages, UnusableBitmapsKeepTemplateSize) {
  fs::path outside = folder().Temp() / "outside.bmp";
  zqfixture::WriteFileBytes(outside.string(), zqfixture::MakeBitmap(55, 55));
  Outcome run = ShowPages("garbage.bmp", "..\\outside.bmp", {{"garbage.bmp", Bytes("not a bitmap at all")}});
  ASSERT_TRUE(run.Clean());
  ASSERT_EQ(run.states.size(), 2u) << run;
  ExpectTemplateRectangles(run.states[1]);
  EXPECT_EQ(WorkspaceFiles(), kLeftInWorkspace);
  EXPECT_TRUE(fs::exists(outside));
}

// Body bitmaps are shown at their size up to 500 x 314 at the page's top-left
// corner; head bitmaps up to 500 wide and always 55 high, flush with the
// page's right edge.  Both files are gone once the wizard is up; both statics
// lie under the texts.
TEST_P(Pages, BitmapsSizeTheirStatics) {
  struct Case {
    int bodyW, bodyH, headW, headH;  // the bitmaps
    int bodyStaticW, bodyStaticH, headStaticW;
  };
  for (const Case& c : {Case{164, 314, 55, 55, 164, 314, 55}, Case{500, 314, 600, 55, 500, 314, 500},
                        Case{600, 400, 55, 100, 500, 314, 55}}) {
    SCOPED_TRACE("body " + std::to_string(c.bodyW) + "x" + std::to_string(c.bodyH) + ", head " +
                 std::to_string(c.headW) + "x" + std::to_string(c.headH));
    Outcome run = ShowPages(
        "body.bmp", "head.bmp",
        {{"body.bmp", zqfixture::MakeBitmap(c.bodyW, c.bodyH)}, {"head.bmp", zqfixture::MakeBitmap(c.headW, c.headH)}});
    ASSERT_TRUE(run.Clean());
    ASSERT_EQ(run.states.size(), 2u) << run;
    const State& state = run.states[1];
    ExpectTemplateRectangles(state, {1011, 1012});
    EXPECT_EQ(WorkspaceFiles(), kLeftInWorkspace);

    const Control* body = state.Find(1012, "welcome");
    const Control* head = state.Find(1011, "header");
    const Control* headPage = state.Page("header");
    ASSERT_TRUE(body && head && headPage) << state.Transcript();
    EXPECT_EQ(body->rect, (Rect{0, 0, c.bodyStaticW, c.bodyStaticH})) << body->line;
    EXPECT_EQ(head->rect, (Rect{headPage->rect.w - c.headStaticW, 0, c.headStaticW, 55})) << head->line;
    EXPECT_EQ(body->z, 5) << body->line;
    EXPECT_EQ(head->z, 2) << head->line;
    EXPECT_TRUE(head->shown) << head->line;
  }
}

ZQ_WINE_TEST_SUITE(Pages);

}  // namespace
}  // namespace zqrig
