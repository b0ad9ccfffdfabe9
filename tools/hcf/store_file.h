// The products store a command reads: the file it names, standard input ("-"), or the one
// catalogue the kit downloaded into its data directory. Stores are only ever read.
#pragma once

#include <hcf/hcf.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "cli.h"
#include "temp_folder.h"

namespace hcf_tool {

/// A store opened for reading, with the private copy of standard input it may read from.
struct OpenedStore {
  std::unique_ptr<TempFolder> copy;
  hcf::HCFProductCatalog catalog;
};

/// The store of --store FILE ("-": a copy of standard input), else the catalogue downloaded into
/// --data DIR or the kit's data directory: the one "halvern-products-*.realm" file there.
/// None raises Failure "no catalogue has been downloaded to DIR: run hcf catalog download (or
/// give --store FILE)"; several raise Failure naming them and asking for --store. No file is
/// made or changed.
OpenedStore openStore(const Args& args);

/// `file` as a path to read: `file` itself, or for "-" a copy of standard input made in
/// `copy` (a new private folder named after `prefix`).
std::filesystem::path readablePath(const std::string& file, std::unique_ptr<TempFolder>& copy,
                                   const std::string& prefix);

}  // namespace hcf_tool
