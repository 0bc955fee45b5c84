! Formatted direct access: records padded with blanks, a format that asks
! for several records with '/', format reversion, records written again,
! and reading across records.
program direct_formatted_records
  implicit none
  integer :: i, a, b
  character(len=8) :: s, t
  real :: x
  open (21, file='fmt.txt', access='direct', form='formatted', recl=12, status='replace')
  write (21, '(a)', rec=4) 'four'
  write (21, '(i3 / a / f8.3)', rec=1) 11, 'two', 3.25
  write (21, '(i5)', rec=6) (i * 7, i = 1, 3)
  write (21, '(a, i2)', rec=2) 'second', 2
  do i = 1, 8
    read (21, '(a12)', rec=i) s
    print '(i2, 1x, "[", a, "]")', i, s
  end do
  read (21, '(i3 / a8 / f8.3)', rec=1) a, t, x
  print '(i4, 1x, a, f8.3)', a, trim(t), x
  read (21, '(i5)', rec=6) a, b
  print '(2i6)', a, b
  close (21)
end program direct_formatted_records
