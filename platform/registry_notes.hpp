// Notes: what the registry could not read or write, raised once per process
// and handed to the sink the layer above installs (see registry.hpp for the
// thread rules). Internal to the registry stand-in.
#pragma once

#include <string>
#include <vector>

namespace stridelog::platform::registry_detail {

// Notes are gathered while the registry's lock is held and raised after it is
// released, so a sink that reads the registry cannot deadlock.
using Notes = std::vector<std::string>;

// Raises each note not raised before, then empties `notes`. Call without the
// registry's lock held.
void raise_notes(Notes& notes);

}  // namespace stridelog::platform::registry_detail
