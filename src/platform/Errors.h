#pragma once
// The program's file-system error: what() names the file and the system's reason.
#include <stdexcept>

namespace kelvo {

class EFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kelvo
