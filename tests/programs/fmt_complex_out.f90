! Complex items take two edit descriptors each.
program fmt_complex_out
  implicit none
  complex :: c = (1.5, -2.25)
  complex(8) :: z = (3.0d0, 4.0d-3)
  write (*, '(2f8.3)') c
  write (*, '("(", f6.2, ",", f6.2, ")")') c
  write (*, '(2es12.4)') z
  write (*, '(4f7.2)') c, c
end program fmt_complex_out
