#include "PortWords.h"

#include "MODBUS485.h"

namespace modbus485 {

std::string portInfo(int number, const PortMapping &mapping, bool open, const Device::OpenResult &opened,
                     const std::string &openedDevice) {
    // By MODBUS485_SOURCE_ code, then by MapFileState; the variable's name ends in the port's number, a map's
    // word is followed by its file.
    static const char *const sources[] = {"默认", "环境变量 MODBUS485_PORT", "用户映射 ", "系统映射 "};
    static const char *const passedOver[] = {"",
                                             "",
                                             " 过长，只读了前 64 KiB",
                                             " 不是普通文件，已忽略",
                                             " 无法读取，已忽略",
                                             " 不是文本文件，已忽略"};
    std::string text =
        "端口" + std::to_string(number) + "：" + mapping.device + "（" + sources[mapping.source] +
        (mapping.source == MODBUS485_SOURCE_VARIABLE ? std::to_string(number) : mapping.file) + "）";
    if (!mapping.passedOver.empty())
        text += "\n映射文件 " + mapping.passedOver + passedOver[static_cast<int>(mapping.passedOverState)];
    if (open && opened.parityNotHeld)
        text += "\n伪终端不能保持校验位，已照常打开";
    // The reason belongs to the device that failed; after a change of map it would mislead.
    if (open || opened.error == Device::OpenError::None || mapping.device != openedDevice)
        return text;
    text += "\n打开失败：";
    switch (opened.error) {
    case Device::OpenError::Missing:
        return text + "设备不存在";
    case Device::OpenError::Permission:
        return text + "没有权限，请运行 sudo usermod -aG " + opened.group + " " + opened.user +
               "，然后注销并重新登录";
    case Device::OpenError::Busy:
        return text + (opened.holder.empty() ? "被其他程序占用" : "设备被占用（" + opened.holder + "）");
    case Device::OpenError::NotSerial:
        return text + "不是串口设备";
    default:
        return text + "无法设置串口";
    }
}

} // namespace modbus485
