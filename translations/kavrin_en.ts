<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Line</name>
    <message>
        <source>运行 %1</source>
        <translation>running %1</translation>
    </message>
    <message>
        <source>空闲 %1 分钟</source>
        <translation>idle %1 min</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>作业 %1，批次 %2</source>
        <translation>job %1, lot %2</translation>
    </message>
    <message>
        <source>近一小时合格 %1，不合格 %2</source>
        <translation>last hour: %1 passed, %2 failed</translation>
    </message>
    <message>
        <source>今日合格 %1，不合格 %2，中断 %3，良率 %4</source>
        <translation>today: %1 passed, %2 failed, %3 interrupted, yield %4</translation>
    </message>
    <message>
        <source>最近失败：%1</source>
        <translation>last failure: %1</translation>
    </message>
    <message>
        <source>%1，批次 %2：合格 %3 / %4</source>
        <translation>%1, lot %2: %3 of %4 passed</translation>
    </message>
    <message>
        <source>%1，批次 %2：合格 %3（批量未知）</source>
        <translation>%1, lot %2: %3 passed (lot size not known)</translation>
    </message>
    <message>
        <source>生产线总览</source>
        <translation>The line at a glance</translation>
    </message>
    <message>
        <source>工位</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>主机</source>
        <translation>Host</translation>
    </message>
    <message>
        <source>作业</source>
        <translation>Job</translation>
    </message>
    <message>
        <source>批次</source>
        <translation>Lot</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>近一小时 合格/不合格</source>
        <translation>Last hour passed/failed</translation>
    </message>
    <message>
        <source>今日 合格/不合格</source>
        <translation>Today passed/failed</translation>
    </message>
    <message>
        <source>今日良率</source>
        <translation>Yield today</translation>
    </message>
    <message>
        <source>最近失败</source>
        <translation>Last failure</translation>
    </message>
    <message>
        <source>今日合格 %1&#x3000;不合格 %2&#x3000;中断 %3</source>
        <translation>Today: %1 passed, %2 failed, %3 interrupted</translation>
    </message>
    <message>
        <source>今日良率：%1</source>
        <translation>Yield today: %1</translation>
    </message>
    <message>
        <source>运行中：%1</source>
        <translation>Running: %1</translation>
    </message>
    <message>
        <source>工位 %1，主机 %2</source>
        <translation>Station %1 on %2</translation>
    </message>
    <message>
        <source>今天还没有工位写入单元。</source>
        <translation>No station has written a unit today.</translation>
    </message>
    <message>
        <source>，时钟超前 %1</source>
        <translation>, clock ahead %1</translation>
    </message>
    <message>
        <source>&#x3000;时钟超前 %1</source>
        <translation>   clock ahead %1</translation>
    </message>
    <message>
        <source>这个数据库里还没有生产记录。</source>
        <translation>No records in this database yet.</translation>
    </message>
    <message>
        <source>无法读取生产记录：%1</source>
        <translation>Cannot read the production records: %1</translation>
    </message>
    <message>
        <source>正在读取生产记录…</source>
        <translation>Reading the production records...</translation>
    </message>
    <message>
        <source>%1 已更新；各工位的单元开始或结束时即时更新</source>
        <translation>Updated at %1; read again as each station&apos;s units start and end</translation>
    </message>
    <message>
        <source>%1 已更新；每 %2 秒读取一次（收不到数据库的通知：%3）</source>
        <translation>Updated at %1; read every %2 s (the database&apos;s notices do not come: %3)</translation>
    </message>
    <message>
        <source>%1 已更新；每 %2 秒读取一次</source>
        <translation>Updated at %1; read every %2 s</translation>
    </message>
</context>
<context>
    <name>Operation</name>
    <message>
        <source>文件加载错误，%1地址行校验和错误 %2</source>
        <translation>File load error: the line at address %1 has a wrong checksum (%2 expected)</translation>
    </message>
    <message>
        <source>文件加载错误，第 %1 行不是 HEX 记录</source>
        <translation>File load error: line %1 is not a HEX record</translation>
    </message>
    <message>
        <source>文件加载错误，文件中没有数据记录，请选择 Intel HEX 文件</source>
        <translation>File load error: the file holds no data records; choose an Intel HEX file</translation>
    </message>
    <message>
        <source>文件加载错误，文件中没有 0000-7FFF 范围内的数据，未加载</source>
        <translation>File load error: the file holds no data within 0000-7FFF; nothing was loaded</translation>
    </message>
    <message>
        <source>文件加载错误，地址 %1 与 %2 的数据落在同一地址 %3（不支持扩展地址），未加载</source>
        <translation>File load error: the data at %1 and at %2 fall on the same address %3 (extended addresses are not supported); nothing was loaded</translation>
    </message>
    <message>
        <source>注意：文件中有 %1 字节超出 0000-%2，未加载</source>
        <translation>Note: %1 bytes beyond 0000-%2 not loaded</translation>
    </message>
    <message>
        <source>本次操作超时失败，编程器无响应，请检查供电是否正常！</source>
        <translation>The operation timed out: the programmer does not answer. Please check its power supply!</translation>
    </message>
    <message>
        <source>设置成功!请重新 选择型号及加载/烧写文件</source>
        <translation>Set succeeded! Now choose the chip type again and load/program the file</translation>
    </message>
    <message>
        <source>校 验 成 功!</source>
        <translation>Verify succeeded!</translation>
    </message>
    <message>
        <source>校 验 失 败</source>
        <translation>Verify failed</translation>
    </message>
    <message>
        <source>目标芯片已加密，无法校验。</source>
        <translation>The target chip is read-protected: it cannot be verified.</translation>
    </message>
    <message>
        <source>目标芯片已加密，无法读出。</source>
        <translation>The target chip is read-protected: it cannot be read out.</translation>
    </message>
    <message>
        <source>读 出 失 败！</source>
        <translation>Read-out failed!</translation>
    </message>
    <message>
        <source>擦除、编程、校验 成功!</source>
        <translation>Erase, program and verify succeeded!</translation>
    </message>
    <message>
        <source>擦除、编程、校验 失 败</source>
        <translation>Erase, program and verify failed</translation>
    </message>
    <message>
        <source>文件烧写成功 </source>
        <translation>File programmed successfully</translation>
    </message>
    <message>
        <source>文件加载成功 </source>
        <translation>File loaded successfully</translation>
    </message>
    <message>
        <source>文 件 加 载 失 败</source>
        <translation>File load failed</translation>
    </message>
    <message>
        <source>校验没通过，错误地址：%1,  写入是 %2 读出是 %3</source>
        <translation>Verify failed at address %1: written %2, read %3</translation>
    </message>
    <message>
        <source>串口已断开，本次操作失败！请检查连接后重新选择串口。</source>
        <translation>The serial port is gone and this operation failed! Check the connection, then choose the serial port again.</translation>
    </message>
    <message>
        <source>文件加载错误，%1</source>
        <translation>File load error: %1</translation>
    </message>
    <message>
        <source>无法识别文件格式：不是 Intel HEX、Motorola S-record 或 ELF 文件，未加载</source>
        <translation>unknown file format: not Intel HEX, Motorola S-record or ELF; nothing loaded</translation>
    </message>
    <message>
        <source>文件中没有数据，未加载</source>
        <translation>the file holds no data; nothing loaded</translation>
    </message>
    <message>
        <source>ELF 文件无法读取：%1</source>
        <translation>the ELF file cannot be read: %1</translation>
    </message>
    <message>
        <source>第 %1 个程序段超出文件末尾，文件不完整</source>
        <translation>program segment %1 runs past the end of the file; the file is incomplete</translation>
    </message>
    <message>
        <source>这是 64 位的 ELF 文件，只能加载 32 位小端的 ELF 可执行文件</source>
        <translation>this is a 64-bit ELF file; only 32-bit little-endian ELF executables can be loaded</translation>
    </message>
    <message>
        <source>这是大端的 ELF 文件，只能加载 32 位小端的 ELF 可执行文件</source>
        <translation>this is a big-endian ELF file; only 32-bit little-endian ELF executables can be loaded</translation>
    </message>
    <message>
        <source>这是 ELF %1，不是可执行文件，只能加载 32 位小端的 ELF 可执行文件</source>
        <translation>this ELF file is a %1, not an executable; only 32-bit little-endian ELF executables can be loaded</translation>
    </message>
    <message>
        <source>可重定位文件</source>
        <translation>relocatable file</translation>
    </message>
    <message>
        <source>共享目标文件</source>
        <translation>shared object</translation>
    </message>
    <message>
        <source>核心转储文件</source>
        <translation>core dump</translation>
    </message>
    <message>
        <source>类型 %1 的文件</source>
        <translation>file of type %1</translation>
    </message>
    <message>
        <source>第 %1 行不是 S-record 记录</source>
        <translation>line %1 is not an S-record</translation>
    </message>
    <message>
        <source>第 %1 行的记录长度不对：字节数为 %2，实有 %3 字节</source>
        <translation>line %1 has the wrong length: its byte count says %2, it holds %3 bytes</translation>
    </message>
    <message>
        <source>第 %1 行校验和错误：文件中为 %2，应为 %3</source>
        <translation>checksum error on line %1: the file has %2, it should be %3</translation>
    </message>
    <message>
        <source>第 %1 行的记录数为 %2，此前有 %3 个数据记录</source>
        <translation>line %1 counts %2 records, but %3 data records came before it</translation>
    </message>
    <message>
        <source>第 %1 个节（%2）超出文件末尾，文件不完整</source>
        <translation>section %1 (%2) runs past the end of the file; the file is incomplete</translation>
    </message>
    <message>
        <source>编程器发来的 %1 个字节不是应答：%2</source>
        <translation>The box sent %1 bytes that are not a reply: %2</translation>
    </message>
    <message>
        <source>编程器发来的 1 个字节不是应答：%1</source>
        <translation>The box sent 1 byte that is not a reply: %1</translation>
    </message>
    <message>
        <source>编程器应答了未知的状态 %1：%2</source>
        <translation>The box answered with status %1: %2</translation>
    </message>
    <message>
        <source>编程器一次发来了多个应答：%1</source>
        <translation>The box sent more than one reply at once: %1</translation>
    </message>
    <message>
        <source>编程器报告加载成功，但从未索取文件的这些数据块：%1</source>
        <translation>The box called the load successful without asking for these blocks of the file: %1</translation>
    </message>
</context>
<context>
    <name>Production</name>
    <message>
        <source>生产：%1</source>
        <translation>Production: %1</translation>
    </message>
    <message>
        <source>%1：启动所有就绪的编程器&#x3000;1–9、F1–F16：启动该编程器</source>
        <translation>%1: start every ready box   1–9, F1–F16: start that box</translation>
    </message>
    <message>
        <source>合格 / 不合格 / 批量：%1 / %2 / %3</source>
        <translation>Passed / failed / lot size: %1 / %2 / %3</translation>
    </message>
    <message>
        <source>良率：%1</source>
        <translation>Yield: %1</translation>
    </message>
    <message>
        <source>放行：%1</source>
        <translation>Released: %1</translation>
    </message>
    <message>
        <source>签名：无（未安装受信任的密钥）</source>
        <translation>Signature: none (no trusted key installed)</translation>
    </message>
    <message>
        <source>每件用时：%1</source>
        <translation>Time per unit: %1</translation>
    </message>
    <message>
        <source> 秒</source>
        <translation> s</translation>
    </message>
    <message>
        <source>工程师密码：</source>
        <translation>Engineer PIN:</translation>
    </message>
    <message>
        <source>密码错误。</source>
        <translation>Wrong PIN.</translation>
    </message>
    <message>
        <source>扫描条码后 Enter：交给下一个就绪的编程器&#x3000;F1–F16：交给该编程器</source>
        <translation>Scan a barcode, then Enter: the next ready box   F1–F16: that box</translation>
    </message>
    <message>
        <source>条码：</source>
        <translation>Barcode:</translation>
    </message>
    <message>
        <source>条码“%1”不符合作业的格式 %2，未启动。</source>
        <translation>The barcode “%1” does not match the job&apos;s pattern %2; nothing started.</translation>
    </message>
    <message>
        <source>所有编程器都在工作，条码“%1”未使用。</source>
        <translation>Every box is busy; the barcode “%1” was not used.</translation>
    </message>
    <message>
        <source>没有编程器 %1，条码“%2”未使用。</source>
        <translation>There is no box %1; the barcode “%2” was not used.</translation>
    </message>
    <message>
        <source>编程器 %1 正在工作，条码“%2”未使用。</source>
        <translation>Box %1 is busy; the barcode “%2” was not used.</translation>
    </message>
    <message>
        <source>条码“%1”：编程器 %2</source>
        <translation>Barcode “%1”: box %2</translation>
    </message>
    <message>
        <source>批量已完成：%1 / %2</source>
        <translation>Lot complete: %1 of %2</translation>
    </message>
    <message>
        <source>批量的位置都已占用：%1 个合格，%2 个正在编程</source>
        <translation>Every place in the lot is taken: %1 passed, %2 being programmed</translation>
    </message>
    <message>
        <source>生产记录无法写入，不启动编程器：%1</source>
        <translation>Production records cannot be written, so no box starts: %1</translation>
    </message>
    <message>
        <source>（计数不是最新）</source>
        <translation> (not current)</translation>
    </message>
    <message>
        <source>请等待 %1 秒后再试。</source>
        <translation>Wait %1 s before the next try.</translation>
    </message>
    <message>
        <source>条码长 %1 个字符，超过 %2 个，未启动。</source>
        <translation>The barcode is %1 characters long, more than %2; nothing started.</translation>
    </message>
    <message>
        <source>密码等待</source>
        <translation>PIN wait</translation>
    </message>
    <message>
        <source>操作员：</source>
        <translation>Operator:</translation>
    </message>
    <message>
        <source>输入姓名或扫描工牌，按 Enter</source>
        <translation>Type a name or scan a badge, then Enter</translation>
    </message>
    <message>
        <source>未输入操作员</source>
        <translation>No operator named</translation>
    </message>
    <message>
        <source>操作员：%1</source>
        <translation>Operator: %1</translation>
    </message>
    <message>
        <source>请先输入操作员：姓名或扫描工牌，按 Enter</source>
        <translation>Name the operator first: type a name or scan a badge, then Enter</translation>
    </message>
    <message>
        <source>请输入姓名或扫描工牌，再按 Enter。</source>
        <translation>Type a name or scan a badge, then press Enter.</translation>
    </message>
    <message>
        <source>姓名或工牌长 %1 个字符，超过 %2 个，未采用。</source>
        <translation>The name or badge is %1 characters long, more than %2; not taken.</translation>
    </message>
    <message>
        <source>姓名或工牌含有控制字符或格式字符，未采用。</source>
        <translation>The name or badge holds a control or format character; not taken.</translation>
    </message>
</context>
<context>
    <name>Records</name>
    <message>
        <source>CSV files (*.csv);;All files (*)</source>
        <translation>CSV files (*.csv);;All files (*)</translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>Finished</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>Operation</source>
        <translation>Operation</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Checksum</source>
        <translation>Checksum</translation>
    </message>
    <message>
        <source>Chip</source>
        <translation>Chip</translation>
    </message>
    <message>
        <source>Station</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Message</translation>
    </message>
    <message>
        <source>Duration (ms)</source>
        <translation>Duration (ms)</translation>
    </message>
    <message>
        <source>Bytes sent</source>
        <translation>Bytes sent</translation>
    </message>
    <message>
        <source>Front end</source>
        <translation>Front end</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Mode</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Power</translation>
    </message>
    <message>
        <source>Count</source>
        <translation>Count</translation>
    </message>
    <message>
        <source>Sectors</source>
        <translation>Sectors</translation>
    </message>
    <message>
        <source>Dataflash</source>
        <translation>Dataflash</translation>
    </message>
    <message>
        <source>Host</source>
        <translation>Host</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>File SHA-256</source>
        <translation>File SHA-256</translation>
    </message>
    <message>
        <source>Started</source>
        <translation>Started</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Id</source>
        <translation>Id</translation>
    </message>
    <message>
        <source>Record UID</source>
        <translation>Record UID</translation>
    </message>
    <message>
        <source>any</source>
        <translation>any</translation>
    </message>
    <message>
        <source>All results</source>
        <translation>All results</translation>
    </message>
    <message>
        <source>part of the file name</source>
        <translation>part of the file name</translation>
    </message>
    <message>
        <source>a unit&apos;s serial number</source>
        <translation>a unit&apos;s serial number</translation>
    </message>
    <message>
        <source>Serial</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>Export CSV...</source>
        <translation>Export CSV...</translation>
    </message>
    <message>
        <source>From</source>
        <translation>From</translation>
    </message>
    <message>
        <source>To</source>
        <translation>To</translation>
    </message>
    <message>
        <source>Reading the records...</source>
        <translation>Reading the records...</translation>
    </message>
    <message>
        <source>Cannot read the records: %1</source>
        <translation>Cannot read the records: %1</translation>
    </message>
    <message>
        <source>%1 records shown; scroll down for older ones</source>
        <translation>%1 records shown; scroll down for older ones</translation>
    </message>
    <message>
        <source>%1 records</source>
        <translation>%1 records</translation>
    </message>
    <message>
        <source>Exporting to %1...</source>
        <translation>Exporting to %1...</translation>
    </message>
    <message>
        <source>Cannot export the records: %1</source>
        <translation>Cannot export the records: %1</translation>
    </message>
    <message>
        <source>%1 records exported to %2</source>
        <translation>%1 records exported to %2</translation>
    </message>
    <message>
        <source>Production records</source>
        <translation>Production records</translation>
    </message>
    <message>
        <source>All jobs</source>
        <translation>All jobs</translation>
    </message>
    <message>
        <source>Yield chart</source>
        <translation>Yield chart</translation>
    </message>
    <message>
        <source>Job</source>
        <translation>Job</translation>
    </message>
    <message>
        <source>Reading the figures...</source>
        <translation>Reading the figures...</translation>
    </message>
    <message>
        <source>Cannot read the figures: %1</source>
        <translation>Cannot read the figures: %1</translation>
    </message>
    <message>
        <source>Units per hour</source>
        <translation>Units per hour</translation>
    </message>
    <message>
        <source>Units per day</source>
        <translation>Units per day</translation>
    </message>
    <message>
        <source>Passed</source>
        <translation>Passed</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>Failed units by result</source>
        <translation>Failed units by result</translation>
    </message>
    <message>
        <source>Units passed: %1, failed: %2</source>
        <translation>Units passed: %1, failed: %2</translation>
    </message>
    <message>
        <source>; failed by result: %1</source>
        <translation>; failed by result: %1</translation>
    </message>
    <message>
        <source>%1: passed %2, failed %3</source>
        <translation>%1: passed %2, failed %3</translation>
    </message>
    <message>
        <source>; per hour: %1</source>
        <translation>; per hour: %1</translation>
    </message>
    <message>
        <source>; per day: %1</source>
        <translation>; per day: %1</translation>
    </message>
    <message>
        <source>Operator</source>
        <translation>Operator</translation>
    </message>
    <message>
        <source>Job SHA-256</source>
        <translation>Job SHA-256</translation>
    </message>
    <message>
        <source>Released</source>
        <translation>Released</translation>
    </message>
    <message>
        <source>an operator&apos;s name, whole</source>
        <translation>an operator&apos;s name, whole</translation>
    </message>
    <message>
        <source>host</source>
        <translation>host</translation>
    </message>
    <message>
        <source>ports, comma-separated</source>
        <translation>ports, comma-separated</translation>
    </message>
</context>
<context>
    <name>Window</name>
    <message>
        <source>%1.%2 秒</source>
        <translation>%1.%2 s</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>About %1</translation>
    </message>
    <message>
        <source>选择串口：</source>
        <translation>Serial port:</translation>
    </message>
    <message>
        <source>设定烧写次数：</source>
        <translation>Programming count:</translation>
    </message>
    <message>
        <source>Dataflash用作</source>
        <translation>Dataflash as</translation>
    </message>
    <message>
        <source>Kavrin Programer
Version %1

Drives the PAC52XX flash programmer box over a serial line (38400 baud, 8N1).</source>
        <translation>Kavrin Programer
Version %1

Drives the PAC52XX flash programmer box over a serial line (38400 baud, 8N1).</translation>
    </message>
    <message>
        <source>&amp;Operations</source>
        <translation>&amp;Operations</translation>
    </message>
    <message>
        <source>&amp;Verify</source>
        <translation>&amp;Verify</translation>
    </message>
    <message>
        <source>&amp;Read out</source>
        <translation>&amp;Read out</translation>
    </message>
    <message>
        <source>Erase + &amp;program + verify</source>
        <translation>Erase + &amp;program + verify</translation>
    </message>
    <message>
        <source>&amp;Type Select...</source>
        <translation>&amp;Type Select...</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>&amp;Read-out view</source>
        <translation>&amp;Read-out view</translation>
    </message>
    <message>
        <source>&amp;File buffer view</source>
        <translation>&amp;File buffer view</translation>
    </message>
    <message>
        <source>&amp;Production records...</source>
        <translation>&amp;Production records...</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>&amp;Language</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>&amp;About Kavrin Programer</source>
        <translation>&amp;About Kavrin Programer</translation>
    </message>
    <message>
        <source>打 开 串 口 失 败,请 重 新 选 择 串 口 </source>
        <translation>Cannot open the port, choose it again</translation>
    </message>
    <message>
        <source>注意：生产记录暂时无法写入数据库，已暂存本机</source>
        <translation>Note: records wait on this PC for now</translation>
    </message>
    <message>
        <source>KavrinMCU型号</source>
        <translation>Kavrin MCU types</translation>
    </message>
    <message>
        <source>读出文件缓冲</source>
        <translation>File buffer</translation>
    </message>
    <message>
        <source>读出操作</source>
        <translation>Read-out</translation>
    </message>
    <message>
        <source>&amp;Production</source>
        <translation>&amp;Production</translation>
    </message>
    <message>
        <source>&amp;Mute sounds</source>
        <translation>&amp;Mute sounds</translation>
    </message>
    <message>
        <source>&amp;Leave production view</source>
        <translation>&amp;Leave production view</translation>
    </message>
    <message>
        <source>&amp;File buffer of the last unit</source>
        <translation>&amp;File buffer of the last unit</translation>
    </message>
    <message>
        <source>Job files (*.kavjob)</source>
        <translation>Job files (*.kavjob)</translation>
    </message>
    <message>
        <source>Save job</source>
        <translation>Save job</translation>
    </message>
    <message>
        <source>Job name:</source>
        <translation>Job name:</translation>
    </message>
    <message>
        <source>Retries:</source>
        <translation>Retries:</translation>
    </message>
    <message>
        <source>Lot size:</source>
        <translation>Lot size:</translation>
    </message>
    <message>
        <source>Engineer PIN (empty: none):</source>
        <translation>Engineer PIN (empty: none):</translation>
    </message>
    <message>
        <source>PIN again:</source>
        <translation>PIN again:</translation>
    </message>
    <message>
        <source>&amp;Open job...</source>
        <translation>&amp;Open job...</translation>
    </message>
    <message>
        <source>&amp;Save job...</source>
        <translation>&amp;Save job...</translation>
    </message>
    <message>
        <source>Load the firmware file first: a job names the file it programs.</source>
        <translation>Load the firmware file first: a job names the file it programs.</translation>
    </message>
    <message>
        <source>The job&apos;s name must be %1.</source>
        <translation>The job&apos;s name must be %1.</translation>
    </message>
    <message>
        <source>Job saved: %1</source>
        <translation>Job saved: %1</translation>
    </message>
    <message>
        <source>The job %1 cannot be opened: %2</source>
        <translation>The job %1 cannot be opened: %2</translation>
    </message>
    <message>
        <source>The job %1 needs 1 to %2 ports, got %3.</source>
        <translation>The job %1 needs 1 to %2 ports, got %3.</translation>
    </message>
    <message>
        <source>&amp;Change operator</source>
        <translation>&amp;Change operator</translation>
    </message>
    <message>
        <source>&amp;Line...</source>
        <translation>&amp;Line...</translation>
    </message>
</context>
</TS>
