// zqpack run: a setup under Wine, in a private world kept under the user's
// cache folder, worked as a user would (or by the user), and what it did:
// the wizard or its error box, its exit code, and the hand-off to a stand-in
// Application Manager compared byte for byte with what the setup packs.
#pragma once
#include <string>

struct RunOptions {
  std::string setup;
  bool interactive = false;  // on the user's $DISPLAY, clicked by the user
  bool decline = false;      // Cancel in the License view, answered Yes
  bool fresh = false;        // a new Wine prefix
  bool json = false;
  std::string screenshots;  // folder for a PNG of each view, or ""
  std::string appMgrDir;    // where the stand-in goes, or "" for the run's own folder
};

// 0 for a complete hand-off (with decline: a clean Cancel), 1 otherwise.
int RunSetup(const RunOptions& options);
