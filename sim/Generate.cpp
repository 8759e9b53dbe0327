#include "Generate.h"

namespace fsv::sim {

bool generateRecordings(const std::filesystem::path&, const GenerateOptions&, std::string* error) {
    if (error) *error = "the sample generator is not built yet";
    return false;
}

}  // namespace fsv::sim
