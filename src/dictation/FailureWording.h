#pragma once

#include <QString>

#include <exception>

// The sentence a user reads when a recording's trip to the backend failed: what happened (the service
// could not be reached, did not answer in time, answered with an error and its status, sent an answer that
// could not be read) and what they can do about it. The recording is in the retry slot by then, so the
// advice points to Retry on Home where a retry can help.
namespace FailureWording {

QString describe(std::exception_ptr error);

} // namespace FailureWording
