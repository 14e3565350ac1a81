// The library's only export.
#include "psrl.h"
#include "report/report_run.h"

extern "C" PSRL_API int32_t PSRL_CALL GetPSR(char* buffer, int32_t bufferSize, int32_t* written,
                                             uint32_t codePage, int32_t defaultUserId) {
  psrl::ReportRequest request;
  request.output = {buffer, bufferSize, written, codePage};
  request.defaultUserId = defaultUserId;
  return psrl::RunReport(request, nullptr);
}
