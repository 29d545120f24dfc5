#include "reporter.h"

#include "humanreporter.h"
#include "jsonreporter.h"

namespace qvota::cli {

std::unique_ptr<Reporter> make_reporter(const OutputOptions &options)
{
    if (options.json)
        return make_json_reporter(options);
    return make_human_reporter(options);
}

} // namespace qvota::cli
