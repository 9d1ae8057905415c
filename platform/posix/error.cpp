#include "platform/error.h"

#include <string_view>

namespace platform {

namespace {

// The English texts Windows gives for the codes this program meets, so a
// log written on the simulated machine reads like one from a real PC.
struct Message {
  uint32_t code;
  std::string_view text;
};

constexpr Message kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {258, "The wait operation timed out."},
    {267, "The directory name is invalid."},
    {1292, "The requested action was blocked by an implementation limit."},
    {1307, "This security ID may not be assigned as the owner of this object."},
    {1460, "This operation returned because the timeout period expired."},
    {1630, "Data of this type is not supported."},
    {4395, "The object manager encountered a reparse point while retrieving an object."},
};

}  // namespace

Error makeError(uint32_t code, std::string operation) {
  Error error;
  error.code = code;
  error.operation = std::move(operation);
  for (const Message& message : kMessages) {
    if (message.code == code) {
      error.message = message.text;
      return error;
    }
  }
  error.message = "Unknown error " + std::to_string(code) + ".";
  return error;
}

}  // namespace platform
