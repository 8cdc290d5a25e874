// Program entry of the old front (vovivavi.exe): one CGI request, or many as a FastCGI
// responder (web/request_server.h); the exit code is 0 unless a FastCGI responder could not
// start.
#include "app/web_module1.h"
#include "web/request_server.h"
#include "web/web_application.h"

int main(int argc, char** argv) {
  using namespace shelfra;
  // Standard input and output carry the CGI exchange; the application object already exists.
  if (argc > 0 && argv[0]) Application().SetProgramName(argv[0]);
  Application().Initialize();
  Application().RegisterModuleClass<TWebModule1>();
  // Every request gets a web module made anew from its description: nothing of one request
  // reaches the next. The tables and indexes below it stay open (data/session.h).
  Application().SetCacheModules(false);
  return ServeRequests(ReadServeOptions(argc, argv), Application().ProgramName(),
                       [](CgiEnvironment& environment) { Application().Run(environment); });
}
