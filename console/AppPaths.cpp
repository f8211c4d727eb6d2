#include "AppPaths.h"

namespace corvane {

std::string g_dataDirectory;
std::string g_programDirectory;

} // namespace corvane
