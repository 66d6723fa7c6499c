// The "_setup.xml" of a Windows CE install cabinet: the provisioning
// document that Smartphone 2002/2003 install from (and Windows Mobile 5/6
// beside the .000 file), written from the same plan as the .000 file.
// UTF-8, no XML declaration; the root <wap-provisioningdoc> holds the
// characteristics Install, FileOperation and Registry, in that order.
#pragma once
#include <string>

#include "inf.h"

std::string WriteSetupXml(const CabPlan& plan);
