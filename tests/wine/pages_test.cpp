// The wizard's layout: every control where its template puts it, the body and
// head bitmaps sized and placed from the bitmap files (which are gone once
// the wizard is up), the bold Arial of the two titles alone.  (The pages'
// drawing objects freed: tests/module/pages_test.cpp.)
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

class Pages : public ProgramTest {};

// Runs up to the License view with these body and head bitmaps (empty: a
// file that is no bitmap; 0 x 0: no file at all); every control at its
// template rectangle but the bitmap statics, which get the bitmap's size up to
// 500 x 314 (body, at the page's top-left corner, under the texts) and up to
// 500 wide, always 55 high (head, flush with the page's right edge); without
// a usable bitmap they keep the template's.  Both files are gone once the
// wizard is up.  The wizard's client area is its template's.  The two titles
// alone are in bold Arial; the button labels carry their mnemonics.
TEST_P(Pages, ControlsFollowTemplatesAndBitmaps) {
  const struct {
    int bodyW, bodyH, headW, headH;             // the bitmaps
    int bodyStaticW, bodyStaticH, headStaticW;  // 0: the template's
  } rows[] = {{0, 0, -1, -1, 0, 0, 0}, {600, 400, 600, 55, 500, 314, 500}, {164, 314, 55, 100, 164, 314, 55}};
  for (const auto& row : rows) {
    SCOPED_TRACE("body " + std::to_string(row.bodyW) + "x" + std::to_string(row.bodyH) + ", head " +
                 std::to_string(row.headW) + "x" + std::to_string(row.headH));
    std::vector<Entry> entries = SampleFiles();
    entries.erase(entries.begin() + 1, entries.begin() + 3);  // body.bmp, head.bmp
    if (row.bodyW > 0) entries.push_back({"body.bmp", zqfixture::MakeBitmap(row.bodyW, row.bodyH)});
    entries.push_back(
        {"head.bmp", row.headW > 0 ? zqfixture::MakeBitmap(row.headW, row.headH) : Bytes("BM no bitmap")});
    for (const fs::path& earlier : Workspaces(folder().Temp())) fs::remove_all(earlier);
    Launch launch = Installed(WriteSetup(entries));
    launch.script.Wizard().State().Click(1000).State();
    const Outcome run = Drive(launch);
    ASSERT_TRUE(run.Clean());
    ASSERT_EQ(run.states.size(), 2u) << run;
    EXPECT_EQ(FilesIn(OnlyWorkspace()), (std::vector<std::string>{"DEMO.CAB", "Setup.ini"}));
    const State& state = run.states[1];
    const bool bitmaps = row.bodyStaticW > 0;
    ExpectTemplateRectangles(state, bitmaps ? std::vector<int>{1011, 1012} : std::vector<int>{});
    const Control* body = state.Find(1012, "welcome");
    const Control* head = state.Find(1011, "header");
    const Control* headPage = state.Page("header");
    ASSERT_TRUE(body && head && headPage) << state.Transcript();
    if (bitmaps) {
      EXPECT_EQ(body->rect, (Rect{0, 0, row.bodyStaticW, row.bodyStaticH})) << body->line;
      EXPECT_EQ(head->rect, (Rect{headPage->rect.w - row.headStaticW, 0, row.headStaticW, 55})) << head->line;
      EXPECT_EQ(body->z, 5) << body->line;
      EXPECT_EQ(head->z, 2) << head->line;
      continue;
    }

    const State& welcome = run.states[0];
    ExpectTemplateRectangles(welcome);
    EXPECT_EQ((Rect{0, 0, welcome.clientW, welcome.clientH}), welcome.Pixels(0, 0, 350, 220)) << "the wizard";
    const std::pair<int, std::string> labels[] = {{1002, "< &Back"}, {1000, "&Next >"}, {1001, "Cancel"}};
    for (const auto& [id, label] : labels) {
      EXPECT_TRUE(welcome.Find(id) && welcome.Find(id)->text == label) << label << "\n" << welcome.Transcript();
    }
    for (const Control& control : welcome.controls) {
      const bool title =
          (control.parent == "welcome" && control.id == 1007) || (control.parent == "header" && control.id == 1010);
      if (title || !control.page.empty()) continue;
      EXPECT_FALSE(control.face == "Arial" || control.weight >= 700) << control.line;
      // The page texts keep the dialog font (the bitmap statics draw no text).
      if (control.parent != "wizard" && control.id != 1011 && control.id != 1012) {
        EXPECT_EQ(control.font, "dialog") << control.line;
      }
    }
    // The two titles: bold Arial, -18 with charset 0 and -8 with charset 1.
    for (const auto& [parent, id, height, charset] :
         {std::make_tuple("welcome", 1007, -18L, 0), std::make_tuple("header", 1010, -8L, 1)}) {
      const Control* title = welcome.Find(id, parent);
      ASSERT_TRUE(title) << welcome.Transcript();
      EXPECT_TRUE(title->font == "own" && title->face == "Arial" && title->height == height && title->weight == 700 &&
                  title->charset == charset)
          << "wanted own bold Arial " << height << ", charset " << charset << ", saw " << title->line;
    }
  }
}

ZQ_WINE_TEST_SUITE(Pages);

}  // namespace
}  // namespace zqrig
