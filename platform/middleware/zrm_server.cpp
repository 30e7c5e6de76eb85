// ZRM_TServer: binding, event loop, trace and reflection of a server object.
#include <cstring>
#include <mutex>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_config.h"
#include "platform/middleware/zrm_host.h"
#include "platform/middleware/zrm_trace.h"

struct ZRM_TServer::Impl {
  std::shared_ptr<ZRM_Host> host;  // set while bound
  std::string name;
  unsigned short a = 0, b = 0;     // kept as given; no meaning on HTTP
  bool flag = false;
  int timeout_ms = -1;
  std::atomic<int> debug_level{0};
  bool level_set = false;          // SetDebugLevel before Bind wins over ZRM_DEBUG
};

ZRM_TServer::ZRM_TServer() : impl_(new Impl) {}

ZRM_TServer::~ZRM_TServer() {
  if (impl_->host) {
    impl_->host->Detach(impl_->name);
    impl_->host.reset();  // the last server takes the listener down
  }
  delete impl_;
}

void ZRM_TServer::Shutdown() {
  if (impl_->host) impl_->host->RequestStop();
}

void ZRM_TServer::SetDebugLevel(int level) {
  impl_->debug_level = level;
  impl_->level_set = true;
}

void ZRM_TServer::DBG_Type(const std::string& record) const { ZRM_TraceWrite(record); }
void ZRM_TServer::DBG_Type(const ZR_TString& record) const { ZRM_TraceWrite(record.Utf8()); }
void ZRM_TServer::DBG_Type(const char* record) const {
  if (record != nullptr) ZRM_TraceWrite(record);
}

bool ZRM_TServer::HandleEvent(int) { return false; }
void ZRM_TServer::HandleRequest(const ZR_TDict&, ZR_TAny&) {}
void ZRM_TServer::ConnectionAdded(const ZRM_TSocket&) {}
void ZRM_TServer::ConnectionDropped(const ZRM_TSocket&) {}
bool ZRM_TServer::AllowExit() { return true; }

void ZRM_TServer::Bind(const ZR_TString& name, unsigned short a, unsigned short b, bool flag) {
  if (impl_->host)
    throw ZR_EException("cannot bind service \"" + name.Utf8() + "\": this server is bound as \"" +
                        impl_->name + "\" already");
  impl_->host = ZRM_Host::Attach(name.Utf8(), this);
  impl_->name = name.Utf8();
  impl_->a = a;
  impl_->b = b;
  impl_->flag = flag;
  if (!impl_->level_set) impl_->debug_level = impl_->host->Config().debug;
}

void ZRM_TServer::SetTimeOut(int milliseconds) { impl_->timeout_ms = milliseconds; }

void ZRM_TServer::EventLoop() {
  if (!impl_->host) throw ZR_EException("EventLoop needs a bound server");
  ZRM_LoopHooks hooks;
  hooks.connection_added = [this](const ZRM_TSocket& s) { ConnectionAdded(s); };
  hooks.connection_dropped = [this](const ZRM_TSocket& s) { ConnectionDropped(s); };
  hooks.handle_event = [this](int event) { return HandleEvent(event); };
  hooks.allow_exit = [this] { return AllowExit(); };
  impl_->host->Run(hooks, impl_->timeout_ms);
}

bool ZRM_TServer::OnDebugLevel(int level) const {
  return level <= impl_->debug_level.load(std::memory_order_relaxed);
}

void ZRM_TServer::DBG_Type(int level, const char* text) const {
  if (!OnDebugLevel(level)) return;
  ZRM_TraceRecord(level, ZRM_CurrentRequestNumber(), text ? std::string_view(text) : "");
}

void ZRM_TServer::DBG_Type(int level, const ZR_TString& text) const {
  if (!OnDebugLevel(level)) return;
  ZRM_TraceRecord(level, ZRM_CurrentRequestNumber(), text.Utf8());
}

void ZRM_TServer::DBG_Type(int level, const std::string& text) const {
  if (!OnDebugLevel(level)) return;
  ZRM_TraceRecord(level, ZRM_CurrentRequestNumber(), text);
}

void ZRM_TServer::PublishPage(const std::string& path, const std::string& content_type,
                              std::string body, bool open) {
  if (!impl_->host) throw ZR_EException("cannot publish a page at \"" + path + "\": the server is not bound");
  ZRM_Page page;
  page.content_type = content_type;
  page.body = std::move(body);
  page.open = open;
  page.owner = this;
  impl_->host->Pages().Add(path, std::move(page));
}

std::string ZRM_TServer::ListenAddress() const {
  return impl_->host ? impl_->host->ListenAddress() : std::string();
}

const ZR_TClass& ZRM_TServer::ZR_ClassObject() {
  static ZR_TClass* cls = ZR_TClass::GetClassObject(
      false, "ZRM_TServer", sizeof(ZRM_TServer), &ZR_TObject::ZR_ClassObject(), nullptr, nullptr);
  return *cls;
}

void* ZRM_TServer::ZR_DynamicInfo(const char* name) const {
  ZR_TClass& cls = const_cast<ZR_TClass&>(ZR_ClassObject());
  if (name == nullptr) {
    cls.flag.store(true, std::memory_order_relaxed);
    return &cls;
  }
  if (std::strcmp(name, cls.name) == 0)
    return const_cast<ZRM_TServer*>(this);
  return ZR_TObject::ZR_DynamicInfo(name);
}

extern "C" bool __ZR_INITIALIZATION_FUNCTION_VERArid__() {
  // Registers the class; configuration and the listener wait for Bind.
  static std::once_flag once;
  std::call_once(once, [] { ZRM_TServer::ZR_ClassObject(); });
  return true;
}
