// The check of the package copy's signature, between the copy and the first
// read of configs.txt: the program runs as administrator, and what it runs
// and flashes must come from whoever signed the program itself.
#pragma once

#include <cstdint>
#include <string>

#include "common/log.h"

// Checks the copy at `copyFolder` against the program's own signer and logs
// the outcome. Returns 0 (verified, or neither is signed) or
// result::kPackageNotSigned, after which nothing of the package may be used.
int32_t checkPackageCopySignature(const std::string& copyFolder, LogWriter& w);
