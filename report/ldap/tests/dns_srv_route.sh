#!/bin/sh
# Runs the fetch probe in a network namespace of its own (loopback only), where a dnsmasq on
# 127.0.0.53 answers the SRV records of the domain ad.quindral.test and two slapd play its domain
# controller (127.0.0.10:389) and global catalog (127.0.0.11:3268). The probe reads no OpenLDAP
# configuration, so the servers can only be found through DNS.
#
# usage: unshare --net --mount --uts sh dns_srv_route.sh WORKDIR PROBE FIXTURES HOSTNAME
# Writes WORKDIR/ldap.out and WORKDIR/gc.out. Every process it starts is stopped by PID.
set -eu
dir=$1 probe=$2 fixtures=$3 host=$4

ip link set lo up
hostname "$host"
mount --bind "$dir/resolv.conf" /etc/resolv.conf
mount --bind "$dir/hosts" /etc/hosts

pids=""
cleanup() { for pid in $pids; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

dnsmasq --keep-in-foreground --conf-file="$dir/dnsmasq.conf" --user=root \
    --pid-file="$dir/dnsmasq.pid" 2>"$dir/dnsmasq.log" &
pids="$pids $!"

for role in dc:127.0.0.10:389:ad-ldap.ldif gc:127.0.0.11:3268:ad-gc.ldif; do
    name=${role%%:*}; rest=${role#*:}; addr=${rest%%:*}; rest=${rest#*:}; port=${rest%%:*}
    ldif=${rest#*:}
    cat > "$dir/$name.conf" <<CONF
include /etc/ldap/schema/core.schema
include $fixtures/ad.schema
pidfile $dir/$name.pid
argsfile $dir/$name.args
rootDSE $fixtures/$ldif
CONF
    slapd -d 0 -f "$dir/$name.conf" -h "ldap://$addr:$port/" >"$dir/$name.log" 2>&1 &
    pids="$pids $!"
done

tries=0
until ldapsearch -x -LLL -H ldap://127.0.0.10:389 -b "" -s base dnsHostName >/dev/null 2>&1 &&
      ldapsearch -x -LLL -H ldap://127.0.0.11:3268 -b "" -s base dnsHostName >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -lt 200 ] || { echo "slapd did not start" >&2; exit 1; }
    sleep 0.05
done

LDAPNOINIT=1 "$probe" LDAP > "$dir/ldap.out"
LDAPNOINIT=1 "$probe" GC > "$dir/gc.out"
