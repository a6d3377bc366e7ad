// The single way into the model: a file path (or the built-in demo) becomes a
// finished Schematic, nets and extents included. Every entry returns an empty
// pointer on failure and writes one message into `error` when it is given;
// problems inside a design are warnings on the Schematic instead.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "formats/sample_design.h"
#include "model/model.h"

namespace nl {

// Reads the file and hands it to loadSchematicText; "Cannot read file: <path>" when unreadable.
std::shared_ptr<Schematic> openSchematicFile(const std::string& path, std::string* error);

// Recognises KiCad, Eagle and legacy KiCad 5 text from its first 512 bytes and dispatches.
std::shared_ptr<Schematic> loadSchematicText(std::string_view text, const std::string& path, std::string* error);

// A KiCad design whose root file holds `text`; sub-sheets are read from disk next to `path`.
std::shared_ptr<Schematic> loadKicadSchematic(std::string_view text, const std::string& path, std::string* error);

// The built-in 555 blinker; its path reads "<built-in sample>".
std::shared_ptr<Schematic> loadSampleSchematic();

}  // namespace nl
