#include "render/drawing_export.h"

namespace nl {

namespace {

DrawingWriters& installed() {
    static DrawingWriters writers;
    return writers;
}

}  // namespace

void setDrawingWriters(const DrawingWriters& writers) { installed() = writers; }

const DrawingWriters& drawingWriters() { return installed(); }

}  // namespace nl
