<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>ActivityBar</name>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>速率 收：</source>
        <translation>Rate in: </translation>
    </message>
    <message>
        <source>/s，发：</source>
        <translation>/s, out: </translation>
    </message>
</context>
<context>
    <name>CreationDialog</name>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>DataWindow</name>
    <message>
        <source>数据收发窗口</source>
        <translation>Data window</translation>
    </message>
    <message>
        <source>数据接收及提示窗口</source>
        <translation>Receive and messages</translation>
    </message>
    <message>
        <source>重复发送：%1/%2次</source>
        <translation>Repeat: %1/%2</translation>
    </message>
    <message>
        <source>记录日志失败：</source>
        <translation>Recording the log failed: </translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>，已停止记录</source>
        <translation>, recording stopped</translation>
    </message>
    <message>
        <source>定时间隔不能为负数，定时发送保持原状</source>
        <translation>The timer interval cannot be negative; timed sending stays as it was</translation>
    </message>
    <message>
        <source>上一个文件尚未发送完成</source>
        <translation>The previous file has not finished sending</translation>
    </message>
    <message>
        <source>发送文件</source>
        <translation>Send file</translation>
    </message>
    <message>
        <source>发送文件 %1：%2/%3，%4/s</source>
        <translation>Sending %1: %2/%3, %4/s</translation>
    </message>
    <message>
        <source> 停止记录：%1 无响应，%2 字节未写入</source>
        <translation> Recording stopped: %1 does not respond, %2 bytes not written</translation>
    </message>
    <message>
        <source>自动应答规则无法保存到 %1，只在本次运行中有效</source>
        <translation>The autoreply rules could not be saved to %1; they apply in this run only</translation>
    </message>
    <message>
        <source>串口状态</source>
        <translation>Serial port status</translation>
    </message>
</context>
<context>
    <name>EndpointSession</name>
    <message>
        <source> 发送失败：连接已断开，数据未发出</source>
        <translation> Send failed: connection closed, nothing sent</translation>
    </message>
    <message>
        <source> 发送失败：连接已断开，%1 字节未发出</source>
        <translation> Send failed: connection closed, %1 bytes not sent</translation>
    </message>
    <message>
        <source> 发送失败：上一次发送尚未完成，%1 字节未发出</source>
        <translation> Send failed: the previous send has not finished, %1 bytes not sent</translation>
    </message>
    <message>
        <source> 发送失败：全部连接等待发送的数据已达上限，%1 字节未发出</source>
        <translation> Send failed: output waiting on all connections is at its limit, %1 bytes not sent</translation>
    </message>
    <message>
        <source> 发送失败：发送队列已满，%1 字节未发出</source>
        <translation> Send failed: the send queue stayed full, %1 bytes not sent</translation>
    </message>
    <message>
        <source> 发送失败：%2，%1 字节未发出</source>
        <translation> Send failed: %2, %1 bytes not sent</translation>
    </message>
    <message>
        <source> 发送超时：对方未接收数据，%1 字节未发出</source>
        <translation> Send timed out: the peer is not reading, %1 bytes not sent</translation>
    </message>
    <message>
        <source> 发送已停止，%1 字节未发出</source>
        <translation> Sending stopped, %1 bytes not sent</translation>
    </message>
    <message>
        <source> 开始发送文件：%1，共 %2 字节</source>
        <translation> Sending file: %1, %2 bytes in all</translation>
    </message>
    <message>
        <source> 文件发送完成：%1，已发送 %2 字节</source>
        <translation> File sent: %1, %2 bytes sent</translation>
    </message>
    <message>
        <source> 文件发送已取消：%1，已发送 %2/%3 字节</source>
        <translation> File sending cancelled: %1, %2/%3 bytes sent</translation>
    </message>
    <message>
        <source> 文件发送失败：%1：%2，已发送 %3/%4 字节</source>
        <translation> File sending failed: %1: %2, %3/%4 bytes sent</translation>
    </message>
    <message>
        <source> 自动应答积压过多（对方未接收数据），新的应答将被丢弃</source>
        <translation> Too many automatic replies waiting (the peer is not reading); new replies will be dropped</translation>
    </message>
    <message>
        <source> 全部连接等待发送的数据已达上限，新的应答将被丢弃</source>
        <translation> Output waiting on all connections is at its limit; new replies will be dropped</translation>
    </message>
    <message>
        <source> 自动应答已关闭：</source>
        <translation> Autoreply switched off: </translation>
    </message>
    <message>
        <source>发送失败</source>
        <translation>Send failed</translation>
    </message>
    <message>
        <source> 已丢弃 %1 条自动应答</source>
        <translation> Dropped %1 automatic replies</translation>
    </message>
    <message>
        <source> 自动应答规则 %1 的正则表达式匹配超出限制，按不匹配处理</source>
        <translation> Autoreply rule %1: its regular expression went past the matching limit; taken as not matching</translation>
    </message>
</context>
<context>
    <name>DocumentArea</name>
    <message>
        <source>最小化</source>
        <translation>Minimize</translation>
    </message>
</context>
<context>
    <name>EndpointController</name>
    <message>
        <source>监听管道已经建立!</source>
        <translation>Monitoring pipe established!</translation>
    </message>
    <message>
        <source>Socket端口已经被占用!</source>
        <translation>The socket port is already in use!</translation>
    </message>
    <message>
        <source>连接失败!</source>
        <translation>Connection failed!</translation>
    </message>
    <message>
        <source> 文件发送失败：%1：%2</source>
        <translation> File sending failed: %1: %2</translation>
    </message>
    <message>
        <source>该端口已被占用,监听未启动!</source>
        <translation>The port is already in use, listening not started!</translation>
    </message>
    <message>
        <source>  Socket创建失败</source>
        <translation>  Socket creation failed</translation>
    </message>
    <message>
        <source>无法进行UDP组播</source>
        <translation>Cannot join the UDP multicast group</translation>
    </message>
</context>
<context>
    <name>EndpointStatus</name>
    <message>
        <source>串口创建时间:</source>
        <translation>Serial port created:</translation>
    </message>
    <message>
        <source>设备:</source>
        <translation>Device:</translation>
    </message>
    <message>
        <source>参数:</source>
        <translation>Settings:</translation>
    </message>
    <message>
        <source>已打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>已关闭</source>
        <translation>Closed</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>已启动</source>
        <translation>Started</translation>
    </message>
    <message>
        <source>已停止</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>Socket服务器创建时间:</source>
        <translation>Server created:</translation>
    </message>
    <message>
        <source>启动监听</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止监听</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>本地端口:</source>
        <translation>Local port:</translation>
    </message>
    <message>
        <source>已连接</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>已断开</source>
        <translation>Closed</translation>
    </message>
    <message>
        <source>Socket创建时间:</source>
        <translation>Created:</translation>
    </message>
    <message>
        <source>对方IP:</source>
        <translation>Peer IP:</translation>
    </message>
    <message>
        <source>对方端口:</source>
        <translation>Peer port:</translation>
    </message>
    <message>
        <source>连接</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>断开</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>组播地址:</source>
        <translation>Group IP:</translation>
    </message>
    <message>
        <source>组播端口:</source>
        <translation>Group port:</translation>
    </message>
    <message>
        <source>串口已打开:</source>
        <translation>Serial open:</translation>
    </message>
    <message>
        <source>串口未打开:</source>
        <translation>Serial closed:</translation>
    </message>
</context>
<context>
    <name>FileAppender</name>
    <message>
        <source>磁盘写入跟不上</source>
        <translation>Disk writes cannot keep up</translation>
    </message>
</context>
<context>
    <name>FileReader</name>
    <message>
        <source>读取文件无响应</source>
        <translation>Reading the file does not respond</translation>
    </message>
</context>
<context>
    <name>FileTransfer</name>
    <message>
        <source>连接已断开</source>
        <translation>Connection closed</translation>
    </message>
    <message>
        <source>上一次发送尚未完成</source>
        <translation>The previous send has not finished</translation>
    </message>
    <message>
        <source>没有可发送的连接</source>
        <translation>No connection to send to</translation>
    </message>
    <message>
        <source>发送失败：</source>
        <translation>Send failed: </translation>
    </message>
    <message>
        <source>发送失败</source>
        <translation>Send failed</translation>
    </message>
    <message>
        <source>文件比开始发送时短</source>
        <translation>The file is shorter than when sending began</translation>
    </message>
    <message>
        <source>读取文件失败：</source>
        <translation>Reading the file failed: </translation>
    </message>
</context>
<context>
    <name>HeadlessRun</name>
    <message>
        <source>端点未能启动：%1 %2</source>
        <translation>Endpoint did not start: %1 %2</translation>
    </message>
    <message>
        <source>网络错误：%1</source>
        <translation>Network error: %1</translation>
    </message>
    <message>
        <source> 连接失败：%1</source>
        <translation> Connect failed: %1</translation>
    </message>
</context>
<context>
    <name>InfoPanel</name>
    <message>
        <source>Portwright TCP 调试</source>
        <translation>Portwright TCP testing</translation>
    </message>
    <message>
        <source>·TCP Server: 监听端口, 每个接入的客户端一个窗口</source>
        <translation>·TCP Server: listens on a port, one window per connected client</translation>
    </message>
    <message>
        <source>·TCP Client: 连接任意地址和端口</source>
        <translation>·TCP Client: connects to any address and port</translation>
    </message>
    <message>
        <source>·十六进制收发, 重复发送, 定时发送, 字节统计</source>
        <translation>·Hex send and receive, repeated sending, timed sending, byte counters</translation>
    </message>
    <message>
        <source>·Web服务应答与监听管道</source>
        <translation>·Web server replies and monitoring pipes</translation>
    </message>
    <message>
        <source>Portwright UDP 调试</source>
        <translation>Portwright UDP testing</translation>
    </message>
    <message>
        <source>·UDP Server: 应答最后一个发送方</source>
        <translation>·UDP Server: replies to the last sender</translation>
    </message>
    <message>
        <source>·UDP Client: 指定目标地址, 可选广播地址</source>
        <translation>·UDP Client: a chosen target address, or the broadcast address</translation>
    </message>
    <message>
        <source>·UDP 组播: 加入组播地址收发</source>
        <translation>·UDP multicast: joins a group address to send and receive</translation>
    </message>
    <message>
        <source>·UDP 与串口 com1 之间的数据转发</source>
        <translation>·Data forwarding between UDP and the serial port com1</translation>
    </message>
    <message>
        <source>Portwright — 网络与串口调试工具  portwright.example.org</source>
        <translation>Portwright — network and serial port test tool  portwright.example.org</translation>
    </message>
</context>
<context>
    <name>LineWriter</name>
    <message>
        <source>标准输出的读取方跟不上，已丢弃 %1 行输出</source>
        <translation>The reader of standard output could not keep up: %1 lines of output dropped</translation>
    </message>
</context>
<context>
    <name>LogFindBar</name>
    <message>
        <source>上一个</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>下一个</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>区分大小写</source>
        <translation>Match case</translation>
    </message>
    <message>
        <source>未找到</source>
        <translation>Not found</translation>
    </message>
</context>
<context>
    <name>LogTexts</name>
    <message>
        <source> …（共 %1 字节）</source>
        <translation> … (%1 bytes in all)</translation>
    </message>
    <message>
        <source> 收到数据：</source>
        <translation> Received: </translation>
    </message>
    <message>
        <source> 发送数据：</source>
        <translation> Sent: </translation>
    </message>
    <message>
        <source> 自动应答：</source>
        <translation> Auto reply: </translation>
    </message>
    <message>
        <source>次]</source>
        <translation>x]</translation>
    </message>
    <message>
        <source>收：</source>
        <translation>Rx: </translation>
    </message>
    <message>
        <source>字节，发:</source>
        <translation> B, Tx: </translation>
    </message>
    <message>
        <source>字节</source>
        <translation> B</translation>
    </message>
</context>
<context>
    <name>LogView</name>
    <message>
        <source>保存日志</source>
        <translation>Save log</translation>
    </message>
    <message>
        <source>保存日志失败：</source>
        <translation>Could not save the log: </translation>
    </message>
    <message>
        <source>：</source>
        <translation>: </translation>
    </message>
    <message>
        <source>记录到文件</source>
        <translation>Record to file</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>复制全部</source>
        <translation>Copy all</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>清空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>查找...</source>
        <translation>Find...</translation>
    </message>
    <message>
        <source>保存日志...</source>
        <translation>Save log...</translation>
    </message>
    <message>
        <source>停止记录</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <source>记录到文件...</source>
        <translation>Record to file...</translation>
    </message>
    <message>
        <source>显示毫秒</source>
        <translation>Show milliseconds</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>保存工作区...</source>
        <translation>Save Workspace...</translation>
    </message>
    <message>
        <source>打开工作区...</source>
        <translation>Open Workspace...</translation>
    </message>
    <message>
        <source>保存工作区</source>
        <translation>Save Workspace</translation>
    </message>
    <message>
        <source>打开工作区</source>
        <translation>Open Workspace</translation>
    </message>
    <message>
        <source>打开工作区将关闭现有的全部端点，是否继续？</source>
        <translation>Opening a workspace closes all the current endpoints. Continue?</translation>
    </message>
    <message>
        <source>Portwright 工作区 (*.portwright);;所有文件 (*)</source>
        <translation>Portwright workspaces (*.portwright);;All files (*)</translation>
    </message>
    <message>
        <source>创建</source>
        <translation>Create</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>启动</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止 </source>
        <translation>Stop </translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>端点</source>
        <translation>Endpoints</translation>
    </message>
</context>
<context>
    <name>ModemLinesStrip</name>
    <message>
        <source>数据终端就绪 (DTR)</source>
        <translation>Data Terminal Ready (DTR)</translation>
    </message>
    <message>
        <source>请求发送 (RTS)</source>
        <translation>Request To Send (RTS)</translation>
    </message>
    <message>
        <source>清除发送 (CTS)</source>
        <translation>Clear To Send (CTS)</translation>
    </message>
    <message>
        <source>数据设备就绪 (DSR)</source>
        <translation>Data Set Ready (DSR)</translation>
    </message>
    <message>
        <source>载波检测 (DCD)</source>
        <translation>Data Carrier Detect (DCD)</translation>
    </message>
    <message>
        <source>振铃指示 (RI)</source>
        <translation>Ring Indicator (RI)</translation>
    </message>
    <message>
        <source>发送中断</source>
        <translation>Send break</translation>
    </message>
    <message>
        <source>将发送线保持在空号电平一段时间 (break)</source>
        <translation>Holds the transmit line at space level for a while (break)</translation>
    </message>
    <message>
        <source>无此线</source>
        <translation>not available</translation>
    </message>
    <message>
        <source>伪终端没有调制解调器控制线</source>
        <translation>A pseudo-terminal has no modem lines</translation>
    </message>
    <message>
        <source>开</source>
        <translation>on</translation>
    </message>
    <message>
        <source>关</source>
        <translation>off</translation>
    </message>
</context>
<context>
    <name>NewSerialPortDialog</name>
    <message>
        <source>创建串口</source>
        <translation>Create Serial Port</translation>
    </message>
    <message>
        <source>串口设备:</source>
        <translation>Device:</translation>
    </message>
    <message>
        <source>波特率:</source>
        <translation>Baud rate:</translation>
    </message>
    <message>
        <source>数据位:</source>
        <translation>Data bits:</translation>
    </message>
    <message>
        <source>校验位:</source>
        <translation>Parity:</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>奇</source>
        <translation>Odd</translation>
    </message>
    <message>
        <source>偶</source>
        <translation>Even</translation>
    </message>
    <message>
        <source>标记</source>
        <translation>Mark</translation>
    </message>
    <message>
        <source>空格</source>
        <translation>Space</translation>
    </message>
    <message>
        <source>停止位:</source>
        <translation>Stop bits:</translation>
    </message>
    <message>
        <source>流控制:</source>
        <translation>Flow control:</translation>
    </message>
    <message>
        <source>DTR 置位</source>
        <translation>DTR on</translation>
    </message>
    <message>
        <source>RTS 置位</source>
        <translation>RTS on</translation>
    </message>
    <message>
        <source>控制线:</source>
        <translation>Modem lines:</translation>
    </message>
    <message>
        <source>分包方式:</source>
        <translation>Messages end:</translation>
    </message>
    <message>
        <source>按时间间隔</source>
        <translation>After a gap</translation>
    </message>
    <message>
        <source>按分隔符</source>
        <translation>After a delimiter</translation>
    </message>
    <message>
        <source>间隔(毫秒):</source>
        <translation>Gap (ms):</translation>
    </message>
    <message>
        <source>分隔符:</source>
        <translation>Delimiter:</translation>
    </message>
    <message>
        <source>CR、LF、CRLF 或十六进制字节，如 0D 0A</source>
        <translation>CR, LF, CRLF or hexadecimal bytes, such as 0D 0A</translation>
    </message>
    <message>
        <source>最大包长(字节):</source>
        <translation>Longest message (bytes):</translation>
    </message>
    <message>
        <source>自动重连</source>
        <translation>Reconnect automatically</translation>
    </message>
    <message>
        <source>设备拔出后重新插入时自动打开</source>
        <translation>Opens the device again when it is plugged back in</translation>
    </message>
    <message>
        <source>请选择或输入串口设备</source>
        <translation>Choose or type a serial device</translation>
    </message>
    <message>
        <source>波特率须为 1 到 %1 之间的整数</source>
        <translation>The baud rate must be a whole number from 1 to %1</translation>
    </message>
    <message>
        <source>间隔须为 0 到 %1 毫秒之间的整数</source>
        <translation>The gap must be a whole number of milliseconds from 0 to %1</translation>
    </message>
    <message>
        <source>分隔符须为 CR、LF、CRLF 或 1 到 %1 个十六进制字节（如 0D 0A）</source>
        <translation>The delimiter must be CR, LF, CRLF or 1 to %1 hexadecimal bytes (such as 0D 0A)</translation>
    </message>
    <message>
        <source>最大包长须为 1 到 %1 字节之间的整数</source>
        <translation>The longest message must be a whole number of bytes from 1 to %1</translation>
    </message>
</context>
<context>
    <name>NewTcpClientDialog</name>
    <message>
        <source>创建Socket客户端</source>
        <translation>Create Socket Client</translation>
    </message>
    <message>
        <source>对方IP:    </source>
        <translation>Peer IP:    </translation>
    </message>
    <message>
        <source>对方端口:  </source>
        <translation>Peer port:  </translation>
    </message>
</context>
<context>
    <name>NewTcpServerDialog</name>
    <message>
        <source>创建Socket服务器</source>
        <translation>Create Socket Server</translation>
    </message>
    <message>
        <source>监听端口:  </source>
        <translation>Listen port:  </translation>
    </message>
</context>
<context>
    <name>NewUdpClientDialog</name>
    <message>
        <source>创建UDP Client</source>
        <translation>Create UDP Client</translation>
    </message>
    <message>
        <source>对方IP   </source>
        <translation>Peer IP   </translation>
    </message>
    <message>
        <source>广播地址</source>
        <translation>Broadcast</translation>
    </message>
    <message>
        <source>对方端口  </source>
        <translation>Peer port  </translation>
    </message>
    <message>
        <source>本地端口    </source>
        <translation>Local port    </translation>
    </message>
    <message>
        <source>本地端口已被占用，请重新选择本地端口号</source>
        <translation>The local port is in use; please choose another local port</translation>
    </message>
    <message>
        <source>请检查本机网络连接是否正常</source>
        <translation>Please check that this machine&apos;s network connection works</translation>
    </message>
</context>
<context>
    <name>NewUdpGroupDialog</name>
    <message>
        <source>创建UDP组播</source>
        <translation>Create UDP Multicast</translation>
    </message>
    <message>
        <source>组播地址:  </source>
        <translation>Group address:  </translation>
    </message>
    <message>
        <source>组播端口: </source>
        <translation>Group port: </translation>
    </message>
</context>
<context>
    <name>NewUdpServerDialog</name>
    <message>
        <source>创建UDP Server</source>
        <translation>Create UDP Server</translation>
    </message>
    <message>
        <source>本地端口    </source>
        <translation>Local port    </translation>
    </message>
    <message>
        <source>本地端口已被占用，请重新选择本地端口号</source>
        <translation>The local port is in use; please choose another local port</translation>
    </message>
</context>
<context>
    <name>PlainTextBox</name>
    <message>
        <source>撤销</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>重做</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>剪切</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>粘贴</source>
        <translation>Paste</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select all</translation>
    </message>
</context>
<context>
    <name>RegularFile</name>
    <message>
        <source>不是普通文件</source>
        <translation>Not a regular file</translation>
    </message>
    <message>
        <source>文件过大（上限 %1 字节）</source>
        <translation>The file is too large (at most %1 bytes)</translation>
    </message>
</context>
<context>
    <name>ReplyRules</name>
    <message>
        <source>等于</source>
        <translation>Equals</translation>
    </message>
    <message>
        <source>包含</source>
        <translation>Contains</translation>
    </message>
    <message>
        <source>开头是</source>
        <translation>Starts with</translation>
    </message>
    <message>
        <source>结尾是</source>
        <translation>Ends with</translation>
    </message>
    <message>
        <source>正则表达式</source>
        <translation>Regex</translation>
    </message>
    <message>
        <source>十六进制字节</source>
        <translation>Hex bytes</translation>
    </message>
    <message>
        <source>第%1条规则的正则表达式无效：%2 (位置 %3)</source>
        <translation>Rule %1: invalid regular expression: %2 (position %3)</translation>
    </message>
    <message>
        <source>第%1条规则的十六进制内容无效</source>
        <translation>Rule %1: the hex pattern is not valid</translation>
    </message>
    <message>
        <source>第%1条规则的应答内容为空</source>
        <translation>Rule %1: the reply is empty</translation>
    </message>
    <message>
        <source>第%1条规则的应答内容不是有效的十六进制</source>
        <translation>Rule %1: the reply is not valid hex</translation>
    </message>
    <message>
        <source>规则文件格式错误：</source>
        <translation>Invalid rule file: </translation>
    </message>
    <message>
        <source>第%1条规则的“%2”缺失或类型不对</source>
        <translation>rule %1: “%2” is missing or has the wrong type</translation>
    </message>
    <message>
        <source>第%1条规则不是一个对象</source>
        <translation>rule %1 is not an object</translation>
    </message>
    <message>
        <source>第%1条规则的匹配方式“%2”未知</source>
        <translation>rule %1: unknown match type “%2”</translation>
    </message>
    <message>
        <source>%1 (位置 %2)</source>
        <translation>%1 (position %2)</translation>
    </message>
    <message>
        <source>不是自动应答规则文件</source>
        <translation>not an auto reply rule file</translation>
    </message>
    <message>
        <source>缺少版本号</source>
        <translation>the version number is missing</translation>
    </message>
    <message>
        <source>不支持的版本 %1</source>
        <translation>unsupported version %1</translation>
    </message>
    <message>
        <source>缺少规则列表</source>
        <translation>the rule list is missing</translation>
    </message>
    <message>
        <source>规则文件中的规则过多：%1 条，最多 %2 条</source>
        <translation>Too many rules in the file: %1, at most %2</translation>
    </message>
    <message>
        <source>第%1条规则使正则表达式的总编译时间超出 %2 秒</source>
        <translation>Rule %1 takes the time spent compiling the regular expressions past %2 s</translation>
    </message>
    <message>
        <source>第%1条规则使正则表达式编译后的总大小超出 %2 MB</source>
        <translation>Rule %1 takes the compiled size of the regular expressions past %2 MB</translation>
    </message>
</context>
<context>
    <name>ReplyRulesDialog</name>
    <message>
        <source>自动应答规则</source>
        <translation>Autoreply rules</translation>
    </message>
    <message>
        <source>启用</source>
        <translation>On</translation>
    </message>
    <message>
        <source>匹配方式</source>
        <translation>Match</translation>
    </message>
    <message>
        <source>匹配内容</source>
        <translation>Pattern</translation>
    </message>
    <message>
        <source>应答内容</source>
        <translation>Reply</translation>
    </message>
    <message>
        <source>十六进制应答</source>
        <translation>Hex reply</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>上移</source>
        <translation>Move up</translation>
    </message>
    <message>
        <source>下移</source>
        <translation>Move down</translation>
    </message>
    <message>
        <source>导入...</source>
        <translation>Import...</translation>
    </message>
    <message>
        <source>导出...</source>
        <translation>Export...</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>按顺序逐条匹配收到的数据，第一条匹配的规则应答。文本应答中可用：\1…\9 正则表达式的分组，\0 匹配到的内容，{time} 当前时间，{count} 已应答次数，{len} 收到的字节数，\r \n \t 回车、换行、制表符。</source>
        <translation>Rules are tried in order on each received piece; the first that matches replies. A text reply may use: \1…\9 the regular expression&apos;s groups, \0 what matched, {time} the current time, {count} the replies given so far, {len} the received byte count, \r \n \t carriage return, line feed, tab.</translation>
    </message>
    <message>
        <source>自动应答规则 (*.json);;所有文件 (*)</source>
        <translation>Autoreply rules (*.json);;All files (*)</translation>
    </message>
    <message>
        <source>导入自动应答规则</source>
        <translation>Import autoreply rules</translation>
    </message>
    <message>
        <source>导入规则失败：%1：%2</source>
        <translation>Importing rules failed: %1: %2</translation>
    </message>
    <message>
        <source>导出自动应答规则</source>
        <translation>Export autoreply rules</translation>
    </message>
    <message>
        <source>导出规则失败：%1：%2</source>
        <translation>Exporting rules failed: %1: %2</translation>
    </message>
    <message>
        <source>规则最多 %1 条，不能再添加</source>
        <translation>At most %1 rules; no more can be added</translation>
    </message>
</context>
<context>
    <name>SendEdit</name>
    <message>
        <source>发送文件...</source>
        <translation>Send file...</translation>
    </message>
</context>
<context>
    <name>SendPanel</name>
    <message>
        <source>数据发送窗口(文本模式)</source>
        <translation>Send (text mode)</translation>
    </message>
    <message>
        <source>发送数据</source>
        <translation>Send</translation>
    </message>
    <message>
        <source>重复发送次数       </source>
        <translation>Repeat count       </translation>
    </message>
    <message>
        <source>间隔(ms)</source>
        <translation>Gap(ms)</translation>
    </message>
    <message>
        <source>定时发送</source>
        <translation>Timed</translation>
    </message>
    <message>
        <source>停止定时发送</source>
        <translation>Stop timed</translation>
    </message>
    <message>
        <source>十六进制格式</source>
        <translation>Hex format</translation>
    </message>
    <message>
        <source>自动应答</source>
        <translation>Autoreply</translation>
    </message>
    <message>
        <source>规则...</source>
        <translation>Rules...</translation>
    </message>
    <message>
        <source>统计清零</source>
        <translation>Reset stats</translation>
    </message>
    <message>
        <source>数据发送窗口[HEX模式]</source>
        <translation>Send [HEX mode]</translation>
    </message>
</context>
<context>
    <name>SerialBridge</name>
    <message>
        <source> 串口数据转发失败：</source>
        <translation> Forwarding serial data failed: </translation>
    </message>
    <message>
        <source> 串口发送缓冲区已满，已丢弃 %1 字节</source>
        <translation> Serial send buffer full, %1 bytes dropped</translation>
    </message>
</context>
<context>
    <name>StatusPanel</name>
    <message>
        <source>Socket状态</source>
        <translation>Socket status</translation>
    </message>
    <message>
        <source>启动Web服务</source>
        <translation>Web service</translation>
    </message>
</context>
<context>
    <name>TcpEndpointEvents</name>
    <message>
        <source>Client Socket异常,代码=</source>
        <translation>Client socket error, code=</translation>
    </message>
    <message>
        <source> 接受连接失败：本程序可打开的文件描述符已用完（上限 %1），新的连接在队列中等待，有空闲描述符后继续接受</source>
        <translation> Accepting a connection failed: this program&apos;s file descriptors are used up (limit %1); new connections wait in the queue and are accepted once a descriptor is free</translation>
    </message>
    <message>
        <source> 接受连接失败：系统的文件描述符已用完（本程序上限 %1），新的连接在队列中等待，有空闲描述符后继续接受</source>
        <translation> Accepting a connection failed: the system&apos;s file descriptors are used up (this program&apos;s limit %1); new connections wait in the queue and are accepted once a descriptor is free</translation>
    </message>
</context>
<context>
    <name>SerialSetup</name>
    <message>
        <source>分隔符过长：%1 个字节，最多 %2 个</source>
        <translation>the delimiter is too long: %1 bytes, at most %2</translation>
    </message>
    <message>
        <source>分隔符不能为空</source>
        <translation>the delimiter must not be empty</translation>
    </message>
    <message>
        <source>“%1”不是十六进制数字</source>
        <translation>“%1” is not a hexadecimal digit</translation>
    </message>
    <message>
        <source>“%1”的十六进制数字个数为奇数，每个字节需两位</source>
        <translation>“%1” has an odd number of hexadecimal digits; each byte takes two</translation>
    </message>
</context>
<context>
    <name>Workspace</name>
    <message>
        <source>端口超出范围（0～%1）</source>
        <translation>port out of range (0 to %1)</translation>
    </message>
    <message>
        <source>过长：%1 个字符，最多 %2 个</source>
        <translation>too long: %1 characters, at most %2</translation>
    </message>
    <message>
        <source>工作区文件格式错误：%1</source>
        <translation>The workspace file is not valid: %1</translation>
    </message>
    <message>
        <source>工作区文件格式错误：%1：%2</source>
        <translation>The workspace file is not valid: %1: %2</translation>
    </message>
    <message>
        <source>端点过多：%1 个，最多 %2 个</source>
        <translation>too many endpoints: %1, at most %2</translation>
    </message>
    <message>
        <source>规则过多：%1 条，最多 %2 条</source>
        <translation>too many rules: %1, at most %2</translation>
    </message>
    <message>
        <source>未知的端点类型“%1”</source>
        <translation>unknown endpoint kind “%1”</translation>
    </message>
    <message>
        <source>没有序号为 %1 的端点（共 %2 个，从 0 起）</source>
        <translation>there is no endpoint %1 (there are %2, counted from 0)</translation>
    </message>
    <message>
        <source>端点不能与自身建立监听管道</source>
        <translation>an endpoint cannot have a monitoring pipe to itself</translation>
    </message>
    <message>
        <source>同类端点之间不能建立监听管道</source>
        <translation>endpoints of the same kind cannot have a monitoring pipe</translation>
    </message>
    <message>
        <source>端点 %1 已在 links[%2] 的监听管道中</source>
        <translation>endpoint %1 is already in the monitoring pipe links[%2]</translation>
    </message>
    <message>
        <source>缺失</source>
        <translation>missing</translation>
    </message>
    <message>
        <source>应为整数</source>
        <translation>should be a whole number</translation>
    </message>
    <message>
        <source>应为 true 或 false</source>
        <translation>should be true or false</translation>
    </message>
    <message>
        <source>应为文本</source>
        <translation>should be a text</translation>
    </message>
    <message>
        <source>应为列表</source>
        <translation>should be a list</translation>
    </message>
    <message>
        <source>%1 (位置 %2)</source>
        <translation>%1 (position %2)</translation>
    </message>
    <message>
        <source>不是工作区文件</source>
        <translation>not a workspace file</translation>
    </message>
    <message>
        <source>不支持的格式版本 %1</source>
        <translation>unsupported format version %1</translation>
    </message>
    <message>
        <source>应为对象</source>
        <translation>should be an object</translation>
    </message>
    <message>
        <source>未知的匹配方式“%1”</source>
        <translation>unknown match type “%1”</translation>
    </message>
    <message>
        <source>监听管道过多：%1 条，端点只有 %2 个</source>
        <translation>too many monitoring pipes: %1, for %2 endpoints</translation>
    </message>
    <message>
        <source>应为两个端点序号的列表</source>
        <translation>should be a list of two endpoint numbers</translation>
    </message>
    <message>
        <source>不能为空</source>
        <translation>must not be empty</translation>
    </message>
    <message>
        <source>超出范围（%1～%2）</source>
        <translation>out of range (%1 to %2)</translation>
    </message>
    <message>
        <source>未知的取值“%1”（可为：%2）</source>
        <translation>unknown value “%1” (one of: %2)</translation>
    </message>
    <message>
        <source>无法打开工作区文件“%1”：%2</source>
        <translation>Cannot open the workspace file “%1”: %2</translation>
    </message>
    <message>
        <source>无法保存工作区文件“%1”：%2</source>
        <translation>Cannot save the workspace file “%1”: %2</translation>
    </message>
</context>
<context>
    <name>SerialEndpoint</name>
    <message>
        <source> 串口已断开：%1</source>
        <translation> Serial port disconnected: %1</translation>
    </message>
    <message>
        <source> 串口已重新打开：%1</source>
        <translation> Serial port reopened: %1</translation>
    </message>
    <message>
        <source>无法打开串口 %1：%2</source>
        <translation>Cannot open serial port %1: %2</translation>
    </message>
    <message>
        <source>无法打开串口 %1：不是串口设备</source>
        <translation>Cannot open serial port %1: it is not a serial device</translation>
    </message>
    <message>
        <source>无法打开串口 %1：没有权限。请将当前用户加入 dialout 组（sudo usermod -aG dialout 用户名），重新登录后再试</source>
        <translation>Cannot open serial port %1: permission denied. Add your user to the dialout group (sudo usermod -aG dialout USERNAME), then log out and in again</translation>
    </message>
    <message>
        <source>无法打开串口 %1：设备不存在</source>
        <translation>Cannot open serial port %1: no such device</translation>
    </message>
    <message>
        <source>无法打开串口 %1：设备不接受这些参数（%2）</source>
        <translation>Cannot open serial port %1: the device does not accept these settings (%2)</translation>
    </message>
    <message>
        <source>无法打开串口 %1：设备正被其他程序使用</source>
        <translation>Cannot open serial port %1: another program is using it</translation>
    </message>
    <message>
        <source>，%1 字节未发出</source>
        <translation>, %1 bytes not sent</translation>
    </message>
</context>
</TS>
