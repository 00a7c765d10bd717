// A save's manifest read back by an independent reader (Python's csv module, with hashlib
// for the digests): see manifest_check.py for what it gives.
#pragma once

#include <filesystem>

#include <nlohmann/json.hpp>

namespace testing_support {

// Runs manifest_check.py on the manifest (and, when given, the store file it names); null
// JSON when the reader could not run.
nlohmann::json CheckManifest(const std::filesystem::path& manifest,
                             const std::filesystem::path& store = {});

}  // namespace testing_support
