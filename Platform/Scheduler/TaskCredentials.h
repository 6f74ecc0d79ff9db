#pragma once
// The run-as account and password of a scheduled task, kept for the
// unattended run in "<task name>.cred" in the application folder: two lines,
// the account and the password, plain text protected only by the file's
// mode 0600. The file is never readable by anyone else, not even while it is
// written (a temporary file created with that mode, then renamed).
#include <filesystem>
#include <string>

namespace velmo::scheduler {

// AppFolder()/"<taskName>.cred".
std::filesystem::path CredentialsFile(const std::string& taskName);

// Stores the account and password, replacing the file atomically. False with
// the reason when it could not (a password or account holding a line break
// cannot be stored).
bool WriteTaskCredentials(const std::string& taskName, const std::string& account, const std::string& password,
                          std::string* error = nullptr);

// What registering a task does with its credentials: a non-empty password
// is stored; an empty one keeps the stored password when it belongs to the
// same account (compared without regard to case), else removes the file.
bool UpdateTaskCredentials(const std::string& taskName, const std::string& account, const std::string& password,
                           std::string* error = nullptr);

// Removes the file; true when it is gone.
bool RemoveTaskCredentials(const std::string& taskName, std::string* error = nullptr);

enum class CredentialsRead {
  Ok,        // account and password read
  Missing,   // no file: run without a password
  Refused,   // not a regular file of this user, or open to group or others
  Unreadable // exists but could not be read
};

// Reads the file for the unattended run. A file not owned by the effective
// user, or whose mode lets group or others in, is refused and not read.
CredentialsRead ReadTaskCredentials(const std::string& taskName, std::string& account, std::string& password,
                                    std::string* why = nullptr);

}  // namespace velmo::scheduler
