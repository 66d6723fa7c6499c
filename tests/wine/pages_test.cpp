// The wizard's layout where the program makes it: the body and head bitmaps
// sized and placed from the bitmap files (which are gone once the wizard is
// up), the pages and the wizard at their templates' sizes, the bold Arial of
// the two titles alone, the buttons' mnemonics.  (Where the dialog manager
// puts the other controls is Windows' own work and not restated here; the
// pages' drawing objects freed: tests/module/pages_test.cpp.)
#include <tuple>

#include "rig.h"

namespace zqrig {
namespace {

class Pages : public ProgramTest {};

// Runs up to the License view with these body and head bitmaps (empty: a
// file that is no bitmap; 0 x 0: no file at all); the bitmap statics get the
// bitmap's size up to 500 x 314 (body, at the page's top-left corner, under
// the texts) and up to 500 wide, always 55 high (head, flush with the page's
// right edge); without a usable bitmap they keep the template's.  Both files are gone once the
// wizard is up.  The wizard's client area is its template's.  The two titles
// alone are in bold Arial; the button labels carry their mnemonics.
TEST_P(Pages, BitmapsTitlesAndLabels) {
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
    const Control* welcomePage = welcome.Page("welcome");
    ASSERT_TRUE(welcomePage) << welcome.Transcript();
    EXPECT_EQ(welcomePage->rect, welcome.Pixels(0, 0, 350, 190)) << welcomePage->line;
    EXPECT_EQ(headPage->rect, state.Pixels(0, 0, 350, 34)) << headPage->line;
    EXPECT_EQ(body->rect, welcome.Pixels(0, 0, 20, 20)) << "without a bitmap, the template's: " << body->line;
    EXPECT_EQ(head->rect, state.Pixels(313, 0, 37, 34)) << "without a bitmap, the template's: " << head->line;
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
