#include "PravonTestSupport.h"

namespace kvtest {

::testing::AssertionResult Succeeded(IPravonError* error) {
    PravonErrorPtr owned(error);
    if (!owned)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "unexpected error:\n" << owned->Describe();
}

::testing::AssertionResult FailedWithKind(IPravonError* error, LONG kind) {
    PravonErrorPtr owned(error);
    if (!owned)
        return ::testing::AssertionFailure() << "succeeded, expected an error of kind " << kind;
    if (owned->GetKind() != kind)
        return ::testing::AssertionFailure() << "expected kind " << kind << ", got:\n" << owned->Describe();
    return ::testing::AssertionSuccess();
}

} // namespace kvtest
