// The one failure type of zqpack's library: a bad setup, bad settings or an
// I/O error.  what() is a single line that names the file concerned; the
// command line turns it into exit code 1.
#pragma once
#include <stdexcept>
#include <string>

class ZqError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
