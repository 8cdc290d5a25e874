#include "web/web_dispatcher.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "tests/support/sjis.h"
#include "web/content_producer.h"
#include "web/fake_cgi_environment.h"
#include "web/web_request.h"
#include "web/web_response.h"

namespace shelfra {
namespace {

// A dispatcher with the three actions of the catalogue module; each handler logs its name.
class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() : dispatcher_(nullptr) {
    TWebActionItem& item1 = dispatcher_.Actions().Add();
    item1.SetDefault(true);
    item1.OnAction = Logger("item1");
    TWebActionItem& list = dispatcher_.Actions().Add();
    list.SetName("alList");
    list.SetPathInfo("/list");
    list.OnAction = Logger("list");
    TWebActionItem& detail = dispatcher_.Actions().Add();
    detail.SetPathInfo("/Detail");
    detail.SetMethodType(mtGet);
    detail.OnAction = Logger("detail");
  }

  THTTPMethodEvent Logger(std::string name) {
    return [this, name](TComponent&, TWebRequest&, TWebResponse&, bool& handled) {
      log_ += name + ";";
      if (refuse_ == name) handled = false;
    };
  }

  std::string Route(const char* method, const char* path) {
    FakeCgiEnvironment env;
    env.variables["REQUEST_METHOD"] = method;
    env.variables["PATH_INFO"] = path;
    TCGIRequest request(env);
    TCGIResponse response(request);
    log_.clear();
    handled_ = dispatcher_.Dispatch(request, response);
    EXPECT_EQ(dispatcher_.CurrentRequest(), &request);
    return log_;
  }

  TCustomWebDispatcher dispatcher_;
  std::string log_;
  std::string refuse_;
  bool handled_ = false;
};

TEST_F(DispatchTest, RoutesEveryPathAndMethod) {
  struct Case {
    const char* method;
    const char* path;
    const char* log;
  } cases[] = {
      {"GET", "", "item1;"},
      {"GET", "/list", "list;"},
      {"POST", "/LIST", "list;"},
      {"GET", "/List", "list;"},
      {"GET", "/Detail", "detail;"},
      {"GET", "/detail", "detail;"},
      {"POST", "/Detail", "item1;"},  // no item matches; item1 answers as the fallback
      {"HEAD", "/Detail", "item1;"},
      {"GET", "/list/", "item1;"},
      {"GET", "/Detail/x", "item1;"},
      {"GET", "/other", "item1;"},
  };
  for (const Case& c : cases) EXPECT_EQ(Route(c.method, c.path), c.log) << c.method << " " << c.path;
}

TEST_F(DispatchTest, HandlerThatRefusesLetsLaterItemsAndTheFallbackTry) {
  refuse_ = "item1";
  // item1 matches the empty path, refuses, nobody else matches, item1 runs again as fallback.
  EXPECT_EQ(Route("GET", ""), "item1;item1;");
  EXPECT_FALSE(handled_);
}

TEST_F(DispatchTest, NoDefaultAndNoMatchIsUnhandled) {
  dispatcher_.Actions().Items(0).SetDefault(false);
  EXPECT_EQ(Route("GET", "/other"), "");
  EXPECT_FALSE(handled_);
}

TEST_F(DispatchTest, DefaultIsExclusiveAndNamesAreUnique) {
  dispatcher_.Actions().Items(1).SetDefault(true);
  EXPECT_FALSE(dispatcher_.Actions().Items(0).Default());
  try {
    dispatcher_.Actions().Items(2).SetName("ALLIST");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), testing::Sjis("アクション名が重複しています"));
  }
  EXPECT_EQ(dispatcher_.Actions().Items(2).Name(), "WebActionItem2");
  EXPECT_EQ(dispatcher_.Actions().Add().Name(), "WebActionItem3");
}

TEST_F(DispatchTest, PathInfoIsNormalised) {
  TWebActionItem& item = dispatcher_.Actions().Items(1);
  item.SetPathInfo("a\\b");
  EXPECT_EQ(item.PathInfo(), "/a/b");
  item.SetPathInfo("/A/B");  // differs only in case: kept as it was
  EXPECT_EQ(item.PathInfo(), "/a/b");
}

class FixedProducer : public TCustomContentProducer {
 public:
  explicit FixedProducer(TComponent* owner) : TCustomContentProducer(owner) {}
  std::string ProduceContent() override { return "produced"; }
};

TEST(DispatchProducerTest, ProducerAnswersItsOwnPathAndIsForgottenWhenDestroyed) {
  TCustomWebDispatcher dispatcher(nullptr);
  FixedProducer& producer = dispatcher.Create<FixedProducer>("Page");
  EXPECT_EQ(producer.Dispatcher(), &dispatcher);
  TWebActionItem& item = dispatcher.Actions().Add();
  item.SetProducer(&producer);
  FakeCgiEnvironment env;
  env.variables["PATH_INFO"] = "/page";
  TCGIRequest request(env);
  TCGIResponse response(request);
  EXPECT_TRUE(dispatcher.Dispatch(request, response));
  EXPECT_EQ(response.Content(), "produced");
  dispatcher.DestroyComponent(producer);
  EXPECT_EQ(item.Producer(), nullptr);
}

}  // namespace
}  // namespace shelfra
