// The simulated cameras' device provider: lists the present devices and, while started, watches
// them so the device monitor reports every plug and unplug as a real camera's would.
#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "simcam/sim_gst.h"
#include "simcam/sim_state.h"

struct UlmoraSimDevice {
  GstDevice parent;
  int index;
};
struct UlmoraSimDeviceClass {
  GstDeviceClass parent_class;
};
G_DEFINE_TYPE(UlmoraSimDevice, ulmora_sim_device, GST_TYPE_DEVICE)

namespace ulmora {
namespace {

// How often a started provider looks for plugs and unplugs.
constexpr std::chrono::milliseconds kWatchPeriod{20};

GstElement* CreateElement(GstDevice* device, const gchar* name) {
  GstElement* element = gst_element_factory_make("ulmorasimsrc", name);
  if (element)
    g_object_set(element, "device", SimDevicePath(reinterpret_cast<UlmoraSimDevice*>(device)->index).c_str(), nullptr);
  return element;
}

gboolean ReconfigureElement(GstDevice* device, GstElement* element) {
  if (G_OBJECT_TYPE(element) != SimSrcGetType()) return FALSE;
  g_object_set(element, "device", SimDevicePath(reinterpret_cast<UlmoraSimDevice*>(device)->index).c_str(), nullptr);
  return TRUE;
}

GstDevice* NewDevice(const SimCameraConfig& config, int index) {
  GstCaps* caps = SimMakeCaps(config.setup, SimShapeNow(config, index));
  const std::string path = SimDevicePath(index);
  GstStructure* props = gst_structure_new("ulmora-sim-device", "device.path", G_TYPE_STRING, path.c_str(), "api",
                                          G_TYPE_STRING, "sim", "device.index", G_TYPE_INT, index, nullptr);
  GstDevice* device = GST_DEVICE(g_object_new(ulmora_sim_device_get_type(), "display-name",
                                              SimDeviceName(index).c_str(), "device-class", "Video/Source", "caps",
                                              caps, "properties", props, nullptr));
  reinterpret_cast<UlmoraSimDevice*>(device)->index = index;
  gst_caps_unref(caps);
  gst_structure_free(props);
  return device;
}

struct ProviderPriv {
  std::thread watcher;
  std::mutex mutex;  // guards `stopping` for the watcher's wake-up only
  std::condition_variable wake;
  bool stopping = false;
  // The watcher's (or start's) own view of what the monitor has been told.
  SimCameraConfig* shown = nullptr;
  std::array<GstDevice*, kSimMaxCount> devices{};
};

}  // namespace
}  // namespace ulmora

using ulmora::ProviderPriv;

struct UlmoraSimProvider {
  GstDeviceProvider parent;
  ProviderPriv* priv;
};
struct UlmoraSimProviderClass {
  GstDeviceProviderClass parent_class;
};
G_DEFINE_TYPE(UlmoraSimProvider, ulmora_sim_provider, GST_TYPE_DEVICE_PROVIDER)

namespace ulmora {
namespace {

UlmoraSimProvider* Self(gpointer p) { return reinterpret_cast<UlmoraSimProvider*>(p); }

void Hide(GstDeviceProvider* provider, ProviderPriv* p, int i) {
  if (!p->devices[i]) return;
  gst_device_provider_device_remove(provider, p->devices[i]);
  gst_object_unref(p->devices[i]);
  p->devices[i] = nullptr;
}

// Brings the monitor's view in line with the devices' state.
void Sync(GstDeviceProvider* provider) {
  ProviderPriv* p = Self(provider)->priv;
  SimCameraConfig* config = SimCurrentConfig();
  if (config != p->shown) {
    for (int i = 0; i < kSimMaxCount; ++i) Hide(provider, p, i);
    p->shown = config;
  }
  if (!config) return;
  const int64_t now = SimNowNs();
  int64_t unset = 0;
  // A camera enabled while the monitor runs starts its plug-after time now.
  config->nMonitorStartNs.compare_exchange_strong(unset, now);
  for (int i = 0; i < static_cast<int>(config->devices.size()) && i < kSimMaxCount; ++i) {
    const bool present = SimDevicePresent(*config, i, now);
    if (present && !p->devices[i]) {
      GstDevice* device = NewDevice(*config, i);
      p->devices[i] = GST_DEVICE(gst_object_ref_sink(device));
      gst_device_provider_device_add(provider, device);
    } else if (!present && p->devices[i]) {
      Hide(provider, p, i);
    }
  }
}

GList* Probe(GstDeviceProvider*) {
  GList* list = nullptr;
  const SimCameraConfig* config = SimCurrentConfig();
  if (!config) return nullptr;
  const int64_t now = SimNowNs();
  for (int i = static_cast<int>(config->devices.size()) - 1; i >= 0; --i)
    if (SimDevicePresent(*config, i, now)) list = g_list_prepend(list, NewDevice(*config, i));
  return list;
}

gboolean Start(GstDeviceProvider* provider) {
  ProviderPriv* p = Self(provider)->priv;
  Sync(provider);
  p->stopping = false;
  p->watcher = std::thread([provider, p] {
    std::unique_lock<std::mutex> lock(p->mutex);
    while (!p->wake.wait_for(lock, kWatchPeriod, [p] { return p->stopping; })) {
      lock.unlock();
      Sync(provider);
      lock.lock();
    }
  });
  return TRUE;
}

void Stop(GstDeviceProvider* provider) {
  ProviderPriv* p = Self(provider)->priv;
  {
    std::lock_guard<std::mutex> lock(p->mutex);
    p->stopping = true;
  }
  p->wake.notify_all();
  if (p->watcher.joinable()) p->watcher.join();
  // The base class drops its list of devices after this, without messages.
  for (GstDevice*& d : p->devices) gst_clear_object(&d);
  p->shown = nullptr;
}

void Finalize(GObject* object) {
  delete Self(object)->priv;
  G_OBJECT_CLASS(ulmora_sim_provider_parent_class)->finalize(object);
}

}  // namespace
}  // namespace ulmora

static void ulmora_sim_device_init(UlmoraSimDevice* device) { device->index = 0; }

static void ulmora_sim_device_class_init(UlmoraSimDeviceClass* klass) {
  GstDeviceClass* device = GST_DEVICE_CLASS(klass);
  device->create_element = ulmora::CreateElement;
  device->reconfigure_element = ulmora::ReconfigureElement;
}

static void ulmora_sim_provider_init(UlmoraSimProvider* provider) { provider->priv = new ProviderPriv(); }

static void ulmora_sim_provider_class_init(UlmoraSimProviderClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = ulmora::Finalize;
  GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
  provider->probe = ulmora::Probe;
  provider->start = ulmora::Start;
  provider->stop = ulmora::Stop;
  gst_device_provider_class_set_static_metadata(provider, "Ulmora simulated camera provider", "Source/Video",
                                                "Lists the simulated low-light cameras", "Ulmora");
}

namespace ulmora {
GType SimProviderGetType() { return ulmora_sim_provider_get_type(); }
}  // namespace ulmora
