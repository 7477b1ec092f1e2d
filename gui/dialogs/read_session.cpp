#include "gui/dialogs/read_session.h"

#include "gui/dialogs/drive_panel.h"
#include "gui/model/device_setting.h"
#include "gui/model/trelin.h"

namespace sorvel {

ReadSessionStart StartReadSession(Trelin& device, DeviceSetting& setting, DrivePanel& panel) {
  device.ReadEnd();
  setting.LoadSetting(device);
  device.ResetSense();
  device.SetBufferingBlockLength(setting.ReadBlockLength);
  const int32_t flags = setting.CDReadFlags();
  panel.ApplySpeed();
  ReadSessionStart start;
  start.family = device.GetMediaFamilyType();
  switch (start.family) {
    case 1:
      device.SetECCMode(!setting.IgnoreError, setting.RetryCount);
      start.result = device.ReadStart(setting.CDReadCommand, flags);
      start.started = true;
      break;
    case 2:
    case 3:
    case 4:
      start.result = device.ReadStart(setting.DVDReadCommand, 0);
      start.started = true;
      break;
    default:
      break;
  }
  return start;
}

}  // namespace sorvel
