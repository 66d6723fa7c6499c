// Every user-visible text of the program: one table of string pointers with
// named indices.  No message literal stands anywhere else.  Pure data, so
// zqpack's verify shows the very texts the program's box would show.
#pragma once

enum MessageId {
  MSG_CREATE_DIRECTORY,      // OS code, directory path
  MSG_APPMGR_NOT_INSTALLED,  // the App Paths key cannot be opened
  MSG_APPMGR_NOT_FOUND,      // the key's default value cannot be read
  MSG_OPEN_SELF,             // OS code
  MSG_BAD_FILE_SIZE,         // "%s" = MSG_MAY_BE_CORRUPTED
  MSG_ALLOCATE,              // OS code
  MSG_READ_INSTALLER,        // OS code
  MSG_BAD_SIGNATURE,         // "%s" = MSG_MAY_BE_CORRUPTED
  MSG_BAD_STUB_CRC,          // "%s" = MSG_MAY_BE_CORRUPTED
  MSG_BAD_TABLE_CRC,         // "%s" = MSG_MAY_BE_CORRUPTED
  MSG_CREATE_FILE,           // OS code, file path
  MSG_EXTRACT_FAILED,        // the inflater refused the stream
  MSG_WRITE_FILE,            // OS code, file path
  MSG_BAD_DATA_CRC,          // "%s" = MSG_MAY_BE_CORRUPTED
  MSG_READ_TEMPORARY,        // OS code
  MSG_RICHEDIT_FAILED,       // RICHED32.DLL did not load
  MSG_LAUNCH_FAILED,         // WinExec returned 31 or less
  MSG_MAY_BE_CORRUPTED,      // fills the damaged-payload messages
  MSG_CANCEL_QUESTION,       // the wizard's Cancel question
  MSG_INVALID_DATA,          // a payload beyond the reader's limits; "%s" as above
  MSG_NO_ANSI_PATH,          // a folder only a wide path names; "%s" = one of the two below
  MSG_TEMP_FOLDER,           // "the temporary folder"
  MSG_OWN_FOLDER,            // "the setup's own folder"
  MSG_COUNT
};

extern const char* const Messages[MSG_COUNT];

// Fixed texts that are no messages: names, formats, sections and keys.
enum TextId {
  TXT_PRODUCT,            // "ZQ Installer"
  TXT_ERROR_CAPTION_FMT,  // "%s Error"
  TXT_WORKSPACE_FMT,      // "_ZQI%04X"
  TXT_DATAFILE_FMT,       // "%s\\data%04x.tmp"
  TXT_PATH_FMT,           // "%s\\%s"
  TXT_APP_PATHS_KEY,
  TXT_RICHED32,
  TXT_SETUP_INI,
  TXT_TITLE_FMT,          // "%s %s for SmartPhone 2002 Setup"
  TXT_EXIT_SETUP,         // caption of the Cancel question
  TXT_COMMAND_LINE_FMT,   // "\"%s\" \"%s\\Setup.ini\""
  TXT_RTF,
  TXT_NO,                 // the default of every setting
  TXT_SECTION_ZQI,        // "ZQINSTALLER"
  TXT_SECTION_APPMGR,     // "CEAppManager"
  TXT_KEY_PRODUCT_NAME,
  TXT_KEY_PRODUCT_VERSION,
  TXT_KEY_LICENSE_FILE,
  TXT_KEY_BODY_BITMAP,
  TXT_KEY_HEAD_BITMAP,
  TXT_KEY_COMPONENT,
  TXT_KEY_CAB_FILES,
  TXT_KEY_INSTALL_DIRECTORY,
  TXT_COUNT
};

extern const char* const Texts[TXT_COUNT];
