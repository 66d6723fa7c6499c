// The GUI driver's line protocol, for the driver (tools/testrig/driver),
// which prints one line per result on stdout, and for its one reader
// (tools/wineworld/drive.cpp).  Standard C++ only: both the Windows driver
// and the Linux host compile it.
//
// Lines (strings are double-quoted with C escapes: \n \r \t \" \\ and
// \xNN for other bytes; rectangles are x,y,w,h in pixels of the wizard's
// client area):
//   WIZARD title="..."
//   BOX caption="..." text="..." buttons=yes,no default=no|none
//       icon=hand|question|exclamation|asterisk|other|shown|none
//       owner=none|wizard|HEX
//     (one line; text: the box's text static; buttons: the visible buttons
//      in window order; default: the BS_DEFPUSHBUTTON button; icon: which
//      system icon the icon static shows, "shown" when the probe could not
//      tell; owner: GW_OWNER)
//   ANSWERED button=B
//   CLICKED id=ID    COMMAND id=ID    KEY name=NAME
//   STATE title="..." focus=ID|wizard|none units=X,Y client=W,H style=HEX
//     followed by one CTRL line per child window, depth first in Z-order
//     (z counts from 0 = top within the parent), pages followed by their own
//     children, then a line "END":
//   CTRL parent=wizard|welcome|header|page id=ID class="..." z=N [page=NAME]
//       text="..." shown=0|1 enabled=0|1 [checked=0|1|2]
//       rect=x,y,w,h style=HEX font=dialog|own|none|? [face="..." height=N
//       weight=N charset=N]
//     (id: as GetWindowLongPtr gives it, so a template's -1 shows as 65535 in
//      a classic template and as -1 in an extended one;
//      units: dialog base units of "MS Sans Serif" 8 from MapDialogRect; the
//      dialog manager converts each of a template's x, cx with MulDiv(v, X, 4)
//      and y, cy with MulDiv(v, Y, 8); shown: IsWindowVisible;
//      checked: BM_GETCHECK of check boxes and radio buttons; font: "dialog"
//      when the control uses its parent dialog's font, "own" for another
//      font, with the LOGFONT facts; "?" when zqprobe.dll could not look
//      inside the setup)
//   WINDOW class="..." id=ID text="..."     (depth first)
//   NOBOX
//   CAPTURE name="NAME" file="..."     CAPTURED name="NAME"
//   EXIT XXXXXXXX       (GetExitCodeProcess, 8 upper-case hex digits)
//   ERROR action="..." reason="..."    (the action was not done; the script
//                                       goes on)
//   TIMEOUT action="..." ms=N          (the script stops)
//   DONE errors=N
#pragma once

#include <cstdio>
#include <map>
#include <string>

namespace zqprotocol {

// C-style escaped and double-quoted: \n, \r, \t, \", \\ and \xNN for other
// control bytes and bytes above 0x7E.
inline std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c > 0x7E) {
          char code[8];
          std::snprintf(code, sizeof code, "\\x%02X", c);
          out += code;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// text[*pos] is the opening quote of a string Quote made; *pos moves behind
// its closing quote.
inline std::string Unquote(const std::string& text, size_t* pos) {
  std::string out;
  size_t i = *pos + 1;
  for (; i < text.size() && text[i] != '"'; ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    char c = text[++i];
    if (c == 'n')
      out += '\n';
    else if (c == 'r')
      out += '\r';
    else if (c == 't')
      out += '\t';
    else if (c != 'x')
      out += c;
    else if (i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    }
  }
  *pos = i + 1;
  return out;
}

// One line as read: "WORD key=value key="quoted value" ...".
struct Line {
  std::string text;
  std::string word;
  std::map<std::string, std::string> fields;
};

inline Line ParseLine(const std::string& text) {
  Line line{text, {}, {}};
  size_t pos = text.find(' ');
  line.word = text.substr(0, pos);
  while (pos != std::string::npos && pos < text.size()) {
    while (pos < text.size() && text[pos] == ' ') ++pos;
    size_t equals = text.find('=', pos);
    if (equals == std::string::npos) break;
    std::string key = text.substr(pos, equals - pos);
    pos = equals + 1;
    if (pos < text.size() && text[pos] == '"') {
      line.fields[key] = Unquote(text, &pos);
    } else {
      size_t end = text.find(' ', pos);
      line.fields[key] = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
      pos = end;
    }
  }
  return line;
}

}  // namespace zqprotocol
