#pragma once
// The program's own errors. Every error this program raises derives from EKelvoError, whose what()
// is a complete Turkish sentence for the user; the layer that raises it picks the class that says
// what failed. Errors of libraries (JSON, allocation) stay what they are. Where an operation's
// contract is "true, or false with a message", it keeps that form and does not throw.
#include <stdexcept>

namespace kelvo {

class EKelvoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file-system error: what() names the file or folder and the system's reason.
class EFileError : public EKelvoError {
 public:
  using EKelvoError::EKelvoError;
};

}  // namespace kelvo
