//go:build windows

// Package wmi stands in for github.com/yusufpapurcu/wmi, which Debian does
// not package, in the Windows build of the sync engine used by the test
// stage. Only the system-information helpers of gopsutil import it (CPU
// model, boot time, ...), and the engine never calls those: every query
// fails with ErrUnavailable, so a caller that does get here sees an ordinary
// error rather than made-up data.
package wmi

import (
	"errors"
	"reflect"
	"strings"
)

// ErrUnavailable is what every query returns.
var ErrUnavailable = errors.New("wmi: not available in this build")

// CreateQuery returns the WQL text the real package would build for the
// element type of the slice `src` points to: SELECT of its exported fields
// FROM the type's name (or class[0]), followed by `where`.
func CreateQuery(src interface{}, where string, class ...string) string {
	t := reflect.TypeOf(src)
	for t != nil && (t.Kind() == reflect.Ptr || t.Kind() == reflect.Slice) {
		t = t.Elem()
	}
	if t == nil || t.Kind() != reflect.Struct {
		return ""
	}
	var fields []string
	for i := 0; i < t.NumField(); i++ {
		if f := t.Field(i); f.PkgPath == "" {
			fields = append(fields, f.Name)
		}
	}
	name := t.Name()
	if len(class) > 0 {
		name = class[0]
	}
	q := "SELECT " + strings.Join(fields, ", ") + " FROM " + name
	if where != "" {
		q += " " + where
	}
	return q
}

// Query never runs the query; it leaves `dst` untouched.
func Query(query string, dst interface{}, connectServerArgs ...interface{}) error {
	return ErrUnavailable
}
