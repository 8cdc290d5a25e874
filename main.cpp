// Program entry: the CGI program serves exactly one request and exits with code 0.
#include "app/web_module1.h"
#include "web/web_application.h"

int main(int argc, char** argv) {
  // Standard input and output carry the CGI exchange; the application object already exists.
  if (argc > 0 && argv[0]) shelfra::Application().SetProgramName(argv[0]);
  shelfra::Application().Initialize();
  shelfra::Application().RegisterModuleClass<shelfra::TWebModule1>();
  shelfra::Application().Run();
  return 0;
}
