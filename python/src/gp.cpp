// Bindings of the genetic-programming layer.
#include "python/src/kvga_python.h"

namespace kvpy {

void BindGeneticProgram(py::module_&) {}

} // namespace kvpy
