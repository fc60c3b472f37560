// Queue script generation: placeholder until the real templates land.
#include "setup.h"

const char *ScriptShShell = "#!/bin/sh";
const char *ScriptBanner = "";
const char *DornaPrintdpxxScript = "";
const char *pv4DriverScript = "";
const char *DornaDSFScript = "";
const char *SimpleScript = "";
const char *DPrintDControlScript = "";
const char *DPrintDControlMsgScript = "";
const char *DPrintDWatchScript = "";
const char *ScriptTail = "";

void createQueueScripts(const char *spoolRoot)
{
    (void)spoolRoot;
}

int generateDornaPrintdpxxScript(const char *path, const char *firstLine, const char *tmpl)
{
    (void)path, (void)firstLine, (void)tmpl;
    return 0;
}

int generatev4DriverScript(const char *path, const char *firstLine, const char *tmpl)
{
    (void)path, (void)firstLine, (void)tmpl;
    return 0;
}

int generateDornaDSFScript(const char *path, const char *firstLine, const char *tmpl,
                           const char *spoolDir)
{
    (void)path, (void)firstLine, (void)tmpl, (void)spoolDir;
    return 0;
}

void GenSimpleScript(const char *path, const char *firstLine, const char *tmpl,
                     const char *dir, const char *progDir, const char *progName)
{
    (void)path, (void)firstLine, (void)tmpl, (void)dir, (void)progDir, (void)progName;
}
